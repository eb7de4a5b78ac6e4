// What a key does in the console dialog.
#pragma once

enum class key_action {
    none,
    next,      // Tab, Down, Right
    previous,  // Shift-Tab, Up, Left
    space,     // clicks the focused control
    enter,     // presses the focused button
    escape,    // the close box
    mnemonic,  // a letter, plain or with Alt
    interrupt, // Ctrl-C: ends the program as SIGINT does
    redraw,    // Ctrl-L, or the terminal changed its size
};

struct key_event {
    key_action action;
    char letter; // for key_action::mnemonic
};

// `key` as ncurses' getch returns it; `alt` when an Escape came just before.
key_event classify_key(int key, bool alt);
