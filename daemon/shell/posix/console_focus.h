// Keyboard focus in the console dialog: which controls take it, Tab and the
// arrows moving it, and the mnemonic letters, as a Windows dialog treats
// them. Indexes are those of maindlg_controls.
#pragma once

// An enabled button or check box with a tab stop.
bool takes_focus(int index);

// Where the focus rests when the dialog first shows: the first check box,
// so that a second press of Enter cannot end the program by accident.
int first_focus();

// The next control that takes the focus after `from` (step 1) or before it
// (step -1), in template order, wrapping round.
int step_focus(int from, int step);

// The control that a mnemonic letter reaches, searching on from the focus.
// When only one control has the letter, it is also clicked; when several
// have it, each press moves the focus to the next of them. Disabled
// controls are never reached. `index` is -1 when none has the letter.
struct mnemonic_hit {
    int index;
    bool click;
};
mnemonic_hit find_mnemonic(int focus, char letter);
