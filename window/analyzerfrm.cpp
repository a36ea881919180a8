#include "analyzerfrm.h"

#include "browserstrip.h"
#include "checkstatemapping.h"
#include "platformerror.h"
#include "textpane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <limits>

namespace {

// The face of every control but the two panes.
QFont formFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    return font;
}

QMessageBox::Icon iconOf(int style)
{
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case 48:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QLineEdit *textBox(const QString &text, QWidget *parent)
{
    auto *box = new QLineEdit(text, parent);
    box->setMaxLength(std::numeric_limits<int>::max()); // no length limit
    return box;
}

QLabel *label(const QString &text, Qt::Alignment alignment, QWidget *parent)
{
    auto *caption = new QLabel(text, parent);
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(alignment | Qt::AlignVCenter);
    return caption;
}

// A frame whose border runs through the middle of its caption, so that the controls placed
// near its top lie inside it.
QGroupBox *frame(const QString &caption, QWidget *parent)
{
    auto *box = new QGroupBox(caption, parent);
    box->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: 0.5em; }"
                                      "QGroupBox::title { subcontrol-origin: margin; left: 0.5em; padding: 0 2px; }"));
    return box;
}

} // namespace

AnalyzerFrm::AnalyzerFrm(const QString &captureFolder, SocketsLibrary &sockets, QWidget *parent)
    : QWidget(parent), m_globalModule(*this, sockets), m_engine(*this, captureFolder)
{
    setWindowTitle(QStringLiteral("TAVRIN-GPS - TCP/IP GPS Protocol Analyzer - Feel Free to distribute"));
    // The icon that the desktop shows for the installed program, at each size it is drawn for.
    QIcon icon;
    for (const int side : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/gpsa/gps-analyzer-%1.png").arg(side), QSize(side, side));
    setWindowIcon(icon);
    setFont(formFont());
    resize(pixelsX(14160), pixelsY(8355));

    createControls();
    m_webBrowser1->setPageValue(QStringLiteral("captureFolder"), QDir::toNativeSeparators(captureFolder));
    setFocusOrder();

    connect(m_command1, &QPushButton::clicked, this, &AnalyzerFrm::Command1_Click);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *window) {
        if (window != nullptr && window != windowHandle() && window->type() == Qt::Window)
            m_otherWindowWasActive = true;
    });
}

AnalyzerFrm::~AnalyzerFrm() = default;

void AnalyzerFrm::createControls()
{
    const Qt::Alignment right = Qt::AlignRight;
    const Qt::Alignment left = Qt::AlignLeft;

    m_frame1 = frame(QStringLiteral("Connections"), this);
    place(m_frame1, 120, 120, 13935, 2535);
    m_label2 = label(QStringLiteral("TCP/IP IN port:"), right, m_frame1);
    place(m_label2, 120, 1560, 1455, 255);
    m_label1 = label(QStringLiteral("TCP/IP OUT port:"), right, m_frame1);
    place(m_label1, 2880, 1560, 1455, 255);
    m_text5 = textBox(QStringLiteral("5001"), m_frame1);
    place(m_text5, 4440, 1560, 1095, 315);
    m_label6 = label(QStringLiteral("Host OUT IP Address:"), right, m_frame1);
    place(m_label6, 5640, 1560, 1935, 255);
    m_text6 = textBox(QStringLiteral("127.0.0.1"), m_frame1);
    place(m_text6, 7680, 1560, 2415, 315);
    m_label5 = label(QStringLiteral("This computer's IP:"), left, m_frame1);
    place(m_label5, 10560, 1560, 1455, 255);
    m_label7 = label(QStringLiteral("127.0.0.1"), left, m_frame1);
    place(m_label7, 12000, 1560, 1575, 255);
    m_check1 = new QCheckBox(QStringLiteral("Enable Send Immediate"), m_frame1);
    place(m_check1, 4440, 2040, 2415, 360);
    m_check3 = new QCheckBox(QStringLiteral("Relay data from IN port to OUT port"), m_frame1);
    place(m_check3, 6960, 2040, 3015, 360);

    // Children of the window itself, drawn above the frame they appear to belong to.
    m_text1 = new TextPane(TextPane::DropEnd::Top, PaneCharacterLimit, this);
    place(m_text1, 240, 360, 13695, 1215);
    m_text2 = textBox(QStringLiteral("5000"), this);
    place(m_text2, 1800, 1680, 1095, 315);
    m_command1 = new QPushButton(QStringLiteral("Start Capturing Data on IN Port"), this);
    place(m_command1, 600, 2160, 3255, 375);
    for (QWidget *above : {static_cast<QWidget *>(m_text1), static_cast<QWidget *>(m_text2),
                           static_cast<QWidget *>(m_command1)})
        above->raise();

    m_frame2 = frame(QStringLiteral("Data Capture and Commands"), this);
    place(m_frame2, 120, 2880, 13935, 3015);
    m_text3 = new TextPane(TextPane::DropEnd::Bottom, PaneCharacterLimit, m_frame2);
    place(m_text3, 120, 360, 13695, 1695);
    m_label3 = label(QStringLiteral("Command:"), right, m_frame2);
    place(m_label3, 120, 2160, 975, 255);
    m_text4 = textBox(QString(), m_frame2);
    place(m_text4, 1200, 2160, 12495, 270);
    m_label4 = label(QStringLiteral("Type:"), right, m_frame2);
    place(m_label4, 480, 2520, 615, 255);
    m_combo1 = new QComboBox(m_frame2);
    m_combo1->setEditable(true);
    m_combo1->setInsertPolicy(QComboBox::NoInsert); // typed text stays text, never an item
    // Typed text stays as typed: completing "ascii" to "ASCII" would change the command's mode.
    m_combo1->setCompleter(nullptr);
    m_combo1->addItems({QStringLiteral("ASCII"), QStringLiteral("HEX")});
    m_combo1->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    place(m_combo1, 1200, 2520, 1095, 315);
    m_check2 = new QCheckBox(QStringLiteral("Automatically Send User Command to Device. (Device must be connected "
                                            "via the Internet) HEX data values must be separated by Comma \",\""),
                             m_frame2);
    place(m_check2, 2400, 2520, 11175, 345);

    m_webBrowser1 = new BrowserStrip(this);
    m_webBrowser1->setFocusPolicy(Qt::NoFocus);
    place(m_webBrowser1, 120, 6000, 13935, 2295);

    const std::pair<QWidget *, const char *> names[] = {
        {m_frame1, "Frame1"}, {m_frame2, "Frame2"}, {m_text1, "Text1"},   {m_text2, "Text2"},
        {m_text3, "Text3"},   {m_text4, "Text4"},   {m_text5, "Text5"},   {m_text6, "Text6"},
        {m_check1, "Check1"}, {m_check2, "Check2"}, {m_check3, "Check3"}, {m_combo1, "Combo1"},
        {m_command1, "Command1"}, {m_label1, "Label1"}, {m_label2, "Label2"}, {m_label3, "Label3"},
        {m_label4, "Label4"}, {m_label5, "Label5"}, {m_label6, "Label6"}, {m_label7, "Label7"},
        {m_webBrowser1, "WebBrowser1"}};
    for (const auto &[widget, name] : names) {
        widget->setObjectName(QLatin1StringView(name));
        // Set on each control: a frame's style sheet stops the window's face from reaching it.
        if (widget != m_text1 && widget != m_text3)
            widget->setFont(formFont());
    }
}

void AnalyzerFrm::setFocusOrder()
{
    const QWidget *const order[] = {m_command1, m_text1, m_text2, m_text3, m_combo1, m_check2,
                                    m_text4,    m_check1, m_text5, m_check3, m_text6};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget *>(order[i]), const_cast<QWidget *>(order[i + 1]));
    m_command1->setFocus();
}

int AnalyzerFrm::pixelsX(int twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0);
}

int AnalyzerFrm::pixelsY(int twips) const
{
    return qRound(twips * logicalDpiY() / 1440.0);
}

void AnalyzerFrm::place(QWidget *widget, int left, int top, int width, int height) const
{
    widget->setGeometry(pixelsX(left), pixelsY(top), pixelsX(width), pixelsY(height));
}

QString AnalyzerFrm::advertisementAddress()
{
    return QStringLiteral("qrc:/gpsa/advertisement.html");
}

bool AnalyzerFrm::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate && (!m_activated || m_otherWindowWasActive)) {
        m_activated = true;
        m_otherWindowWasActive = false;
        Form_Activate();
    } else if (event->type() == QEvent::Show && !m_activated && !m_activationAwaited) {
        // Under focus-stealing prevention the first activation may never come: the handler
        // then runs once the window has been shown, and the activation that follows later
        // does not run it again.
        m_activationAwaited = true;
        QTimer::singleShot(0, this, [this] {
            if (m_activated)
                return;
            m_activated = true;
            Form_Activate();
        });
    }
    return handled;
}

void AnalyzerFrm::Form_Load()
{
    m_engine.Form_Load();
}

void AnalyzerFrm::Form_Activate()
{
    try {
        m_label7->setText(m_globalModule.GetLocalIPAddress());
        m_label7->repaint();
        m_webBrowser1->Navigate(advertisementAddress());
    } catch (const PlatformError &error) {
        reportError(error.number(), error.description());
        endProgram();
    }
}

void AnalyzerFrm::Command1_Click()
{
    m_engine.Command1_Click();
}

QWidget *AnalyzerFrm::widget(Control control) const
{
    switch (control) {
    case Control::Command1:
        return m_command1;
    case Control::Text1:
        return m_text1;
    case Control::Text2:
        return m_text2;
    case Control::Text3:
        return m_text3;
    case Control::Text4:
        return m_text4;
    case Control::Text5:
        return m_text5;
    case Control::Text6:
        return m_text6;
    case Control::Check1:
        return m_check1;
    case Control::Check2:
        return m_check2;
    case Control::Check3:
        return m_check3;
    case Control::Combo1:
        return m_combo1;
    }
    return nullptr;
}

QCheckBox *AnalyzerFrm::checkBox(Control control) const
{
    return qobject_cast<QCheckBox *>(widget(control));
}

QString AnalyzerFrm::text(Control control) const
{
    QWidget *const w = widget(control);
    if (auto *box = qobject_cast<QLineEdit *>(w))
        return box->text();
    if (auto *pane = qobject_cast<TextPane *>(w))
        return pane->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return {};
}

int AnalyzerFrm::value(Control checkBox) const
{
    QCheckBox *const box = this->checkBox(checkBox);
    return box ? CheckStateMapping::valueOf(box->checkState()) : CheckValue::Clear;
}

void AnalyzerFrm::setValue(Control checkBox, int value)
{
    if (QCheckBox *const box = this->checkBox(checkBox))
        box->setCheckState(CheckStateMapping::stateOf(value));
}

void AnalyzerFrm::setEnabled(Control control, bool enabled)
{
    if (QWidget *const w = widget(control))
        w->setEnabled(enabled);
}

void AnalyzerFrm::appendToLog(const QString &line)
{
    m_text1->appendLine(line);
}

void AnalyzerFrm::prependToLog(const QString &line)
{
    m_text1->prependLine(line);
}

void AnalyzerFrm::replaceLog(const QString &text)
{
    m_text1->replaceText(text);
}

void AnalyzerFrm::prependToDataPane(const QString &line)
{
    m_text3->prependLine(line);
}

void AnalyzerFrm::messageBox(const QString &prompt, int style, const QString &title)
{
    QMessageBox box(iconOf(style), title, prompt, QMessageBox::Ok, this);
    box.exec();
}

void AnalyzerFrm::reportError(int number, const QString &description)
{
    messageBox(QStringLiteral("Run-time error '%1':\n\n%2").arg(QString::number(number), description), vbCritical,
               QStringLiteral("gps-analyzer"));
}

void AnalyzerFrm::endProgram()
{
    QCoreApplication::exit(1);
}
