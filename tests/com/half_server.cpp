// A library that says when it may be unloaded but makes no class objects: the
// activation runtime must refuse it rather than call what it lacks.
extern "C" __attribute__((visibility("default"))) long DllCanUnloadNow() { return 1; }
