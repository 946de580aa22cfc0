// A library the dependent stand-in runtime imports by name. Two builds with one file name: the
// runtime's own copy in its bin folder, and a planted copy the tests put where it must not be
// taken from. Each says which one it is.
extern "C" __declspec(dllexport) const char* qn_standin_dependency_origin() { return QN_DEPENDENCY_ORIGIN; }
