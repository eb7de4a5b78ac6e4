#include "apply_advice.h"

const char* selection_apply_advice()
{
    return "Velmora reads the file when it starts; to apply the change now, end it\n"
           "(\"Stop all Services and Exit\" in its control dialog) and start VELMORA.EXE again.\n";
}
