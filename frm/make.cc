// tessera-frm make.
#include <string>
#include <vector>

#include "frm/frm.h"

int RunMake(const std::vector<std::string>&) { return UsageError("make is not built yet"); }
