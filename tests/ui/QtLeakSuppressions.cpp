// Fontconfig and Qt's platform plugins keep caches for the life of the
// process; the leak checker is told not to count them.
// The sanitizer runtime looks this name up.
extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
    return "leak:libfontconfig.so\nleak:libQt6Gui.so\nleak:libQt6Core.so\nleak:libQt6Widgets.so\nleak:qtApplication\n";
}
