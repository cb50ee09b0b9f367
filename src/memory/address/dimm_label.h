// The memory module a fault can be pinned on without guessing, from the EDAC
// label files. Read once at start-up: the labels do not change while a run
// lasts, and a fault on a worker thread must not wait on sysfs.
#pragma once
#include <string>

namespace dravik {

// The label files say which slot each module sits in but not which addresses
// it holds, so a label is only given when the box has exactly one labelled
// module (however many entries repeat that label). With two different labels
// any choice could send the owner to the wrong module: out stays empty. Reads
// edac_mc/mc0..mc7/dimm0..dimm31/dimm_label.
void unambiguous_dimm_label(const std::string& edac_mc, char out[40]);

}  // namespace dravik
