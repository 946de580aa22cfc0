// The library the unloadable stand-in imports; the tests never put it where the loader looks.
extern "C" __declspec(dllexport) int qn_missing_dependency_marker() { return 0; }
