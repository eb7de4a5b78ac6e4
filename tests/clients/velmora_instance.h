// A Velmora of its own for a test: a copy of the program in a scratch folder,
// with a settings file that selects the chargen and quote services and a
// quote file of the test's choosing, running until the object goes.
#pragma once

#include <string>
#include <sys/types.h>

#include "scratch_folder.h"

class velmora_instance {
public:
    explicit velmora_instance(const std::string& quote_file);
    ~velmora_instance();
    velmora_instance(const velmora_instance&) = delete;
    velmora_instance& operator=(const velmora_instance&) = delete;

    // True once the program runs and both ports are open.
    bool ready() const { return ready_; }
    // What the program wrote to its standard output and error so far.
    std::string log() const;

private:
    scratch_folder folder_;
    pid_t pid_ = -1;
    bool ready_ = false;
};
