#ifndef GPSA_WINDOWPRESETS_H
#define GPSA_WINDOWPRESETS_H

class AnalyzerFrm;
struct Options;

// Sets the window's controls from the command line, as the operator would type and tick
// them, before the window is shown. The headless front end starts with the same values.
void applyPresets(AnalyzerFrm &window, const Options &options);

#endif
