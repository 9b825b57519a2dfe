// The framework set up for the shell tool as for the window, so both use one settings file.
#pragma once

namespace parvula::cli {

// Title "Parvula", product code "PV", the data folders and the portable switch of the window's
// executable beside this one; the current folder is kept, since paths are given relative to it.
void InitialiseFramework();

} // namespace parvula::cli
