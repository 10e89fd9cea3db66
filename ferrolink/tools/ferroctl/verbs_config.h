// ferroctl verbs for the configuration files: save the settings description
// and the configuration set, and write a configuration set into a scanner.
#pragma once

// Each takes the arguments after the verb and returns the exit status.
int RunSaveOfficeVerb(int argc, char** argv);
int RunSaveConfigVerb(int argc, char** argv);
int RunWriteConfigVerb(int argc, char** argv);
