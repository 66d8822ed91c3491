// The main window without a mouse: the controls that only hold state never take the focus,
// Tab goes folder field -> tree -> grid with the focus always in sight, and the keys users of
// other picture browsers know open, refresh, exit and show the About window.
#pragma once

class TMainForm;

void SetUpKeyboard(TMainForm &form);
