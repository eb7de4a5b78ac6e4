#include "message_box.h"

#include <windows.h>

void message_box(const char* text, const char* caption, box_icon icon)
{
    const UINT style = MB_OK | (icon == box_icon::exclamation ? MB_ICONEXCLAMATION : 0);
    MessageBoxA(nullptr, text, caption, style);
}
