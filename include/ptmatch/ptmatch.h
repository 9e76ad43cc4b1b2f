// Every public name of the ptmatch library and of its foundation layer.
#pragma once

#include <foundation/foundation.h>

#include <ptmatch/bucket_store.h>
#include <ptmatch/coarse_fine_search.h>
#include <ptmatch/grid_indexer.h>
#include <ptmatch/matrix_ext.h>
#include <ptmatch/point_matcher.h>
#include <ptmatch/point_matcher_defs.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_matcher_result.h>
#include <ptmatch/point_matcher_run_params.h>
#include <ptmatch/point_to_grid_corresponder.h>
#include <ptmatch/projective_tm.h>
#include <ptmatch/pseudo_inverse.h>
#include <ptmatch/pt_match_tm.h>
#include <ptmatch/pt_match_tm_3d.h>
#include <ptmatch/pt_to_grid_map.h>
#include <ptmatch/score_hashing.h>
#include <ptmatch/version.h>
