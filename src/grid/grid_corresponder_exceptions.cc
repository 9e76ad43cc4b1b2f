// The grid corresponder's exceptions: rethrowing, archiving by levels and registration for loading by
// name.
#include <ptmatch/point_to_grid_corresponder.h>

#include <foundation/exception_levels.h>

namespace {

using Defs = xc_PointToGridCorresponderDefs;

const xc_Instantiator sInsufficientModelPointsExemplar("xc_PointToGridCorresponderDefs::InsufficientModelPoints",
                                                       typeid(Defs::InsufficientModelPoints),
                                                       &xf_MakeDefaultInstance<Defs::InsufficientModelPoints>);
const xc_Instantiator sInsufficientMemoryExemplar("xc_PointToGridCorresponderDefs::InsufficientMemory",
                                                  typeid(Defs::InsufficientMemory),
                                                  &xf_MakeDefaultInstance<Defs::InsufficientMemory>);

}  // namespace

const int xc_PointToGridCorresponderDefsRegistered = 1;

XC_DEFINE_ARCHIVED_ERRORS_BASE(xc_PointToGridCorresponderDefs)
XC_DEFINE_ARCHIVED_ERROR(xc_PointToGridCorresponderDefs, InsufficientModelPoints)
XC_DEFINE_ARCHIVED_ERROR(xc_PointToGridCorresponderDefs, InsufficientMemory)
