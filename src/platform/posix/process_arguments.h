#pragma once
// The POSIX entry point hands argv to the backend before the launcher reads its command line.

namespace qn::platform {

void setProcessArguments(int argc, char** argv);

}  // namespace qn::platform
