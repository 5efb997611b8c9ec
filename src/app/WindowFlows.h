#pragma once

#include <QString>

#include "core/Form.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"

namespace quill {

// The decisions behind the main window's own handlers, on the Form port so
// they run without a screen.

// 组合框1 changed: SQL Server authentication (index 1) enables the login boxes
// with "SA"; anything else disables them with "Administrator". The password
// text is left as it is.
void onAuthModeSelected(Form& form);

// 按钮5: the help box.
void onHelpClicked(MessageBoxes& boxes);

// Asks before the window closes; true when the user answered OK.
bool confirmClose(MessageBoxes& boxes);

// Stores the database name of the selected list row (empty when none) as
// selectedDatabaseName; true when a row is selected and the menu should open.
bool nameSelectedDatabase(const Form& form, ProgramState& state);

extern const char* const kHelpText;
extern const char* const kCloseQuestion;

}  // namespace quill
