#pragma once
// What the program and its tests do before the first window: common controls, COM for the
// file dialogs, the splitter bar's window class.
namespace edbwin {

// False when the common controls could not be set up.
bool PrepareProcess();

} // namespace edbwin
