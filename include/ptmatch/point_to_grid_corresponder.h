// The grid corresponder locates a trained grid pattern among grid positions. The point matcher owns one
// after training from a pattern; its training and search arrive with the grid correspondence subsystem.
#pragma once

class xc_PointToGridCorresponder {
 public:
  xc_PointToGridCorresponder() = default;
  xc_PointToGridCorresponder(const xc_PointToGridCorresponder&) = default;
  xc_PointToGridCorresponder& operator=(const xc_PointToGridCorresponder&) = default;
  virtual ~xc_PointToGridCorresponder() = default;
};
