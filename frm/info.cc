// tessera-frm info.
#include <string>
#include <vector>

#include "frm/frm.h"

int RunInfo(const std::vector<std::string>&) { return UsageError("info is not built yet"); }
