// ferroctl verbs over discovery and notification.
#pragma once

// Each takes the arguments after the verb and returns the exit status.
int RunListVerb(int argc, char** argv);
int RunWatchVerb(int argc, char** argv);
