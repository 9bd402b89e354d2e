// The five terrain programs as functions of their command lines. Each returns the status that
// its program ends with (-1 after a failure, 255 to the shell), with every message and file as
// the program makes them, so that a caller may run them one after another in one process; each
// run starts from nothing that an earlier one left. The one exception by design: tintshade with
// a level count other than 0 ends the process itself in its level pass (trn_levels_exiting).
#pragma once

int RunDemimport(int argc, char** argv);
int RunGridforge(int argc, char** argv);
int RunLandimport(int argc, char** argv);
int RunTintshade(int argc, char** argv);
int RunTileprint(int argc, char** argv);
