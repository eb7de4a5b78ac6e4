#include "apply_advice.h"

const char* selection_apply_advice()
{
    return "Velmora reads the file when it starts; to apply the change now:\n"
           "  systemctl restart velmora\n"
           "A Velmora started by hand must be ended (Ctrl-C) and started again.\n";
}
