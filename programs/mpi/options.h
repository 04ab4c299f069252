// Command-line options of veldan-mpi: the option names of veldan where
// they mean something here, and the tolerance they give Zoltan.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "programs/mpi/common.h"

namespace veldan::mpi {

enum : int { kPTypeRB = 1, kPTypeKway = 2 };
enum : int { kOTypeCut = 1, kOTypeSoed = 2 };

struct Options {
  int ptype = kPTypeRB;
  int otype = kOTypeCut;
  double ufactor = 5.0;
  double epsilon = -1.0;  // below 0: not given
  int nruns = 1;
  long seed = -1;  // below 0: drawn at start
  long dbglvl = 8;
  bool stats = false;
  long nparts = 1;
  std::string filename, fixedfile, outputfile;
  // -zparam=NAME=VALUE: Zoltan parameters set after (over) the built-in ones.
  std::vector<std::pair<std::string, std::string>> zparams;
};

// Parses the command line; every rank calls it with the same arguments and
// comes to the same result. -help and -version end the run with status 0,
// mistakes with status 2; rank 0 prints.
void ParseOptions(const Comm& comm, int argc, char** argv, Options* options);

// The largest part weight over the average weight that Zoltan is given:
// 1 + epsilon under -epsilon; otherwise for kway 1 + ufactor/100, and for
// rb the bound that ufactor per bisection compounds to over the levels,
// (1 + ufactor/50)^ceil(log2 nparts).
double ImbalanceTolerance(const Options& options);

}  // namespace veldan::mpi
