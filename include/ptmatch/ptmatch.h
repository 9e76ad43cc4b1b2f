// Every public name of the ptmatch library and of its foundation layer.
#pragma once

#include <foundation/foundation.h>

#include <ptmatch/point_matcher.h>
#include <ptmatch/point_matcher_defs.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_matcher_result.h>
#include <ptmatch/point_matcher_run_params.h>
#include <ptmatch/point_to_grid_corresponder.h>
#include <ptmatch/version.h>
