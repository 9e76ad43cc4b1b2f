// The point matcher's exceptions: rethrowing, archiving by levels and registration for loading by name.
#include <ptmatch/point_matcher_defs.h>

#include <foundation/exception_levels.h>

namespace {

using Defs = xcPointMatcherDefs;

const xc_Instantiator sBadParamsExemplar("xcPointMatcherDefs::BadParams", typeid(Defs::BadParams),
                                         &xf_MakeDefaultInstance<Defs::BadParams>);
const xc_Instantiator sNotTrainedExemplar("xcPointMatcherDefs::NotTrained", typeid(Defs::NotTrained),
                                          &xf_MakeDefaultInstance<Defs::NotTrained>);
const xc_Instantiator sNotRunExemplar("xcPointMatcherDefs::NotRun", typeid(Defs::NotRun),
                                      &xf_MakeDefaultInstance<Defs::NotRun>);
const xc_Instantiator sInsufficientExemplar("xcPointMatcherDefs::InsufficientModelPoints",
                                            typeid(Defs::InsufficientModelPoints),
                                            &xf_MakeDefaultInstance<Defs::InsufficientModelPoints>);

}  // namespace

const int xc_PointMatcherDefsRegistered = 1;

XC_DEFINE_ARCHIVED_ERRORS_BASE(xcPointMatcherDefs)
XC_DEFINE_ARCHIVED_ERROR(xcPointMatcherDefs, BadParams)
XC_DEFINE_ARCHIVED_ERROR(xcPointMatcherDefs, NotTrained)
XC_DEFINE_ARCHIVED_ERROR(xcPointMatcherDefs, NotRun)
XC_DEFINE_ARCHIVED_ERROR(xcPointMatcherDefs, InsufficientModelPoints)
