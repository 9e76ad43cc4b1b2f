// Every public name of the foundation layer: geometry, images, fitter, timer, stop poll, archive, exceptions.
#pragma once

#include <foundation/angle_range.h>
#include <foundation/archive.h>
#include <foundation/attention.h>
#include <foundation/exception.h>
#include <foundation/exception_levels.h>
#include <foundation/line.h>
#include <foundation/ls_fitter.h>
#include <foundation/math_util.h>
#include <foundation/matrix.h>
#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/pel_functions.h>
#include <foundation/persistent.h>
#include <foundation/radian.h>
#include <foundation/range.h>
#include <foundation/rectangle.h>
#include <foundation/timer.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
