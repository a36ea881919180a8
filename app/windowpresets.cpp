#include "windowpresets.h"

#include "analyzerfrm.h"
#include "commandline.h"
#include "featuremenus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

void applyPresets(AnalyzerFrm &window, const Options &options)
{
    window.Text2()->setText(options.inPort);
    window.Text5()->setText(options.outPort);
    window.Text6()->setText(options.outHost);
    window.Text4()->setText(options.command);
    // The combo box is editable: any text is kept as typed, an item's text as well.
    window.Combo1()->setCurrentText(options.commandType);
    window.Check3()->setChecked(options.relay);
    window.Check1()->setChecked(options.sendOnConnect);
    window.Check2()->setChecked(options.armCommand);
    window.menus()->setFeatures(options.features);
}
