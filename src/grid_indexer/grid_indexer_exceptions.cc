// The grid indexer's exceptions: rethrowing, archiving by levels and registration for loading by name.
#include <ptmatch/grid_indexer.h>

#include <foundation/exception_levels.h>

namespace {

using Defs = xcGridIndexerDefs;

const xc_Instantiator sBadParamsExemplar("xcGridIndexerDefs::BadParams", typeid(Defs::BadParams),
                                         &xf_MakeDefaultInstance<Defs::BadParams>);

}  // namespace

const int xcGridIndexerDefsRegistered = 1;

XC_DEFINE_ARCHIVED_ERRORS_BASE(xcGridIndexerDefs)
XC_DEFINE_ARCHIVED_ERROR(xcGridIndexerDefs, BadParams)
