// Read by LeakSanitizer in sanitizer builds of the tests that open a window. The offscreen platform
// plugin of Qt 5.15 never frees its screen; these are the allocations of that screen, reached only
// through the plugin.
extern "C" const char *__lsan_default_suppressions();

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n";
}
