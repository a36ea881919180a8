#include "windowpresets.h"

#include "analyzerfrm.h"
#include "commandline.h"
#include "featuremenus.h"

void applyPresets(AnalyzerFrm &window, const Options &options)
{
    const ControlPresets presets = controlPresets(options);
    for (const auto &[control, text] : presets.texts)
        window.setText(control, text);
    for (const auto &[control, value] : presets.values)
        window.setValue(control, value);
    window.menus()->setFeatures(options.features);
}
