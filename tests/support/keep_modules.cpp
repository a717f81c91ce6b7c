// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded (LD_PRELOAD) into a program run under LeakSanitizer: a library the
// program unloads stays mapped to the end, so that the leak report at exit can
// name the library a leaked block came from instead of "<unknown module>", and a
// suppression can name that library.
extern "C" int dlclose(void*) {
  return 0;
}
