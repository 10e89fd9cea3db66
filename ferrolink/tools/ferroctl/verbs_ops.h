// ferroctl verbs for commands, identity, firmware, images and the operation log.
#pragma once

// Each takes the arguments after the verb and returns the exit status.
int RunSendVerb(int argc, char** argv);
int RunIdentityVerb(int argc, char** argv);
int RunFlashVerb(int argc, char** argv);
int RunCompareVerb(int argc, char** argv);
int RunImageVerb(int argc, char** argv);
int RunOpLogVerb(int argc, char** argv);
