#include "console_template.h"

int control_index(int id)
{
    for (int i = 0; i < maindlg_control_count; ++i)
        if (id != 0 && maindlg_controls[i].id == id) return i;
    return -1;
}
