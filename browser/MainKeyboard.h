// The main window without a mouse: the controls that only hold state never take the focus,
// and Tab goes folder field -> tree -> grid with the focus always in sight.
#pragma once

class TMainForm;

void SetUpKeyboard(TMainForm &form);
