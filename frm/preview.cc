// tessera-frm preview.
#include <string>
#include <vector>

#include "frm/frm.h"

int RunPreview(const std::vector<std::string>&) { return UsageError("preview is not built yet"); }
