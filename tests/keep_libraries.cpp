// Preloaded into the sanitizer runs (scripts/sanitize.sh): dlclose does
// nothing, so the libraries SDL opens and closes again while it starts and
// quits stay mapped until the process ends. Memory they still point at then
// stays reachable for LeakSanitizer, instead of showing up as leaks of a
// library that is gone and that no suppression can name.
extern "C" int dlclose(void *) { return 0; }
