#pragma once
// Message boxes in the active theme: a hook on this thread meets every
// dialog box ("#32770") as it is created and, while a theme is active, draws
// its background, text and buttons in the theme's colours. What the box
// says and does is the system's own; only its colours change.
namespace fw {

// Installs the hook on the calling (user-interface) thread, once.
void HookMessageBoxes();

} // namespace fw
