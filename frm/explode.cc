// tessera-frm explode.
#include <string>
#include <vector>

#include "frm/frm.h"

int RunExplode(const std::vector<std::string>&) { return UsageError("explode is not built yet"); }
