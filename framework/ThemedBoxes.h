#pragma once
// Message boxes in the active theme: a WH_CBT hook on this thread sees every
// dialog box ("#32770") at HCBT_CREATEWND and, while a theme is active,
// subclasses it to draw its background and text (WM_CTLCOLOR*) and its
// buttons (NM_CUSTOMDRAW) in the theme's colours. What the box says and
// does is the system's own; only its colours change.
namespace fw {

// Installs the hook on the calling (user-interface) thread, once.
void HookMessageBoxes();

} // namespace fw
