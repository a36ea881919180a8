#include "analyzerfrm.h"

#include "browserstrip.h"
#include "checkstatemapping.h"
#include "commandcomposer.h"
#include "commandframedialog.h"
#include "datetimetext.h"
#include "featuremenus.h"
#include "liveviewservice.h"
#include "pcapexport.h"
#include "platformerror.h"
#include "positionscsv.h"
#include "positionsmodel.h"
#include "positionswindow.h"
#include "sessionerror.h"
#include "sessionindex.h"
#include "sessionindexfile.h"
#include "openfiles.h"
#include "textpane.h"
#include "trackerswindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QResizeEvent>
#include <QStyle>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <limits>

namespace {

// The faces tried for "MS Sans Serif" 8.25 pt: that face where the system has it, otherwise
// sans faces about as narrow, the narrowest first; see fittingFormFont().
QFont formFont(qreal points)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
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
    : QWidget(parent)
    , m_globalModule(
          {[this](const QString &line) { prependToLog(line); }, [this](const QString &text) { replaceLog(text); }},
          sockets)
    , m_engine(*this, captureFolder)
{
    setWindowTitle(QStringLiteral("TAVRIN-GPS - TCP/IP GPS Protocol Analyzer - Feel Free to distribute"));
    // The icon that the desktop shows for the installed program, at each size it is drawn for.
    QIcon icon;
    for (const int side : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/gpsa/gps-analyzer-%1.png").arg(side), QSize(side, side));
    setWindowIcon(icon);

    // The menu bar stands above the client area, which keeps its size and layout.
    m_menus = new FeatureMenus(this);
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("ClientArea"));
    createControls();
    m_webBrowser1->setPageValue(QStringLiteral("captureFolder"), QDir::toNativeSeparators(captureFolder));
    setFocusOrder();
    const int menuHeight = m_menus->menuBar()->sizeHint().height();
    setMinimumSize(pixelsX(ClientWidth), pixelsY(ClientHeight) + menuHeight);
    resize(minimumSize());
    layoutControls();

    m_engine.setRecorderFactory([](const QString &folder) { return std::make_unique<SessionIndexFile>(folder); });
    m_engine.setPositionRecorderFactory([](const QString &folder) { return std::make_unique<PositionsCsvFile>(folder); });
    m_positions = new PositionsModel(this);
    connect(m_command1, &QPushButton::clicked, this, &AnalyzerFrm::Command1_Click);
    connect(m_menus->exportSession, &QAction::triggered, this, &AnalyzerFrm::exportSession);
    connect(m_menus->openCaptureFolder, &QAction::triggered, this, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_engine.captureFolder()));
    });
    connect(m_menus->quit, &QAction::triggered, this, &QWidget::close);
    connect(m_menus->positions, &QAction::triggered, this, &AnalyzerFrm::showPositions);
    connect(m_menus->buildFrame, &QAction::triggered, this, &AnalyzerFrm::buildCommandFrame);
    connect(m_menus->about, &QAction::triggered, this, &AnalyzerFrm::showAbout);
    connect(m_menus->trackersAtOnce, &QAction::triggered, this, &AnalyzerFrm::askTrackersAtOnce);
    connect(m_menus->mirrorTo, &QAction::triggered, this, &AnalyzerFrm::askMirrors);
    connect(m_menus->showTrackers, &QAction::triggered, this, &AnalyzerFrm::showTrackers);
    connect(m_menus->shareLiveView, &QAction::triggered, this, &AnalyzerFrm::shareLiveView);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *window) {
        if (window != nullptr && window != windowHandle() && window->type() == Qt::Window)
            m_otherWindowWasActive = true;
    });
}

AnalyzerFrm::~AnalyzerFrm() = default;

void AnalyzerFrm::createControls()
{
    createConnectionControls();
    createCaptureControls();
    m_webBrowser1 = new BrowserStrip(m_client);
    m_webBrowser1->setFocusPolicy(Qt::NoFocus);
    place(m_webBrowser1, 120, 6000, 13935, 2295, Stretch::Strip);
    nameControls();
    // Set on each control: a frame's style sheet stops the window's face from reaching it.
    const QFont font = fittingFormFont();
    for (QWidget *widget : captioned())
        widget->setFont(font);
    for (QWidget *widget : {static_cast<QWidget *>(m_frame1), static_cast<QWidget *>(m_frame2),
                            static_cast<QWidget *>(m_text2), static_cast<QWidget *>(m_text4),
                            static_cast<QWidget *>(m_text5), static_cast<QWidget *>(m_text6),
                            static_cast<QWidget *>(m_combo1), static_cast<QWidget *>(m_webBrowser1)})
        widget->setFont(font);
    // Nor does the combo box's face reach its edit field there: it is set on the field too.
    m_combo1->lineEdit()->setFont(font);
}

void AnalyzerFrm::createConnectionControls()
{
    const Qt::Alignment right = Qt::AlignRight;
    const Qt::Alignment left = Qt::AlignLeft;

    m_frame1 = frame(QStringLiteral("Connections"), m_client);
    place(m_frame1, 120, 120, 13935, 2535, Stretch::Width);
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

    // Children of the client area itself, drawn above the frame they appear to belong to.
    m_text1 = new TextPane(TextPane::DropEnd::Top, PaneCharacterLimit, m_client);
    place(m_text1, 240, 360, 13695, 1215, Stretch::Width);
    m_text2 = textBox(QStringLiteral("5000"), m_client);
    place(m_text2, 1800, 1680, 1095, 315);
    m_command1 = new QPushButton(QStringLiteral("Start Capturing Data on IN Port"), m_client);
    place(m_command1, 600, 2160, 3255, 375);
    for (QWidget *above : {static_cast<QWidget *>(m_text1), static_cast<QWidget *>(m_text2),
                           static_cast<QWidget *>(m_command1)})
        above->raise();
}

void AnalyzerFrm::createCaptureControls()
{
    const Qt::Alignment right = Qt::AlignRight;
    m_frame2 = frame(QStringLiteral("Data Capture and Commands"), m_client);
    place(m_frame2, 120, 2880, 13935, 3015, Stretch::Pane);
    m_text3 = new TextPane(TextPane::DropEnd::Bottom, PaneCharacterLimit, m_frame2);
    place(m_text3, 120, 360, 13695, 1695, Stretch::Pane);
    m_label3 = label(QStringLiteral("Command:"), right, m_frame2);
    place(m_label3, 120, 2160, 975, 255, Stretch::BelowPane);
    m_text4 = textBox(QString(), m_frame2);
    place(m_text4, 1200, 2160, 12495, 270, Stretch::BelowPane);
    m_label4 = label(QStringLiteral("Type:"), right, m_frame2);
    place(m_label4, 480, 2520, 615, 255, Stretch::BelowPane);
    m_combo1 = new QComboBox(m_frame2);
    m_combo1->setEditable(true);
    m_combo1->setInsertPolicy(QComboBox::NoInsert); // typed text stays text, never an item
    // Typed text stays as typed: completing "ascii" to "ASCII" would change the command's mode.
    m_combo1->setCompleter(nullptr);
    m_combo1->addItems({QStringLiteral("ASCII"), QStringLiteral("HEX")});
    m_combo1->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    place(m_combo1, 1200, 2520, 1095, 315, Stretch::BelowPane);
    m_check2 = new QCheckBox(QStringLiteral("Automatically Send User Command to Device. (Device must be connected "
                                            "via the Internet) HEX data values must be separated by Comma \",\""),
                             m_frame2);
    place(m_check2, 2400, 2520, 11175, 345, Stretch::BelowPane);
}

void AnalyzerFrm::nameControls()
{
    const std::pair<QWidget *, const char *> names[] = {
        {m_frame1, "Frame1"}, {m_frame2, "Frame2"}, {m_text1, "Text1"},   {m_text2, "Text2"},
        {m_text3, "Text3"},   {m_text4, "Text4"},   {m_text5, "Text5"},   {m_text6, "Text6"},
        {m_check1, "Check1"}, {m_check2, "Check2"}, {m_check3, "Check3"}, {m_combo1, "Combo1"},
        {m_command1, "Command1"}, {m_label1, "Label1"}, {m_label2, "Label2"}, {m_label3, "Label3"},
        {m_label4, "Label4"}, {m_label5, "Label5"}, {m_label6, "Label6"}, {m_label7, "Label7"},
        {m_webBrowser1, "WebBrowser1"}};
    for (const auto &[widget, name] : names)
        widget->setObjectName(QLatin1StringView(name));
}

QList<QWidget *> AnalyzerFrm::captioned() const
{
    return {m_label1, m_label2, m_label3, m_label4, m_label5, m_label6, m_label7,
            m_check1, m_check2, m_check3, m_command1};
}

int AnalyzerFrm::captionRoom(const QWidget *control) const
{
    const QStyle *style = control->style();
    if (qobject_cast<const QCheckBox *>(control) != nullptr)
        return control->width() - style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, control) -
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, control);
    if (qobject_cast<const QPushButton *>(control) != nullptr)
        return control->width() - 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control);
    return control->width();
}

QString AnalyzerFrm::captionOf(const QWidget *control)
{
    if (const auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    return {};
}

QFont AnalyzerFrm::fittingFormFont() const
{
    // The largest size up to 8.25 points at which every caption fits its control at this
    // density: the substitute face keeps the original's room, the controls keep their sizes.
    // "This computer's IP:" is the widest for its box; a local address is measured at its
    // longest, 255.255.255.255.
    QFont font = formFont(8.25);
    for (qreal points = 8.25; points >= 6.0; points -= 0.25) {
        font.setPointSizeF(points);
        const QFontMetrics metrics(font);
        bool fits = metrics.horizontalAdvance(QStringLiteral("255.255.255.255")) <= captionRoom(m_label7);
        for (const QWidget *control : captioned())
            fits = fits && metrics.horizontalAdvance(captionOf(control)) <= captionRoom(control);
        if (fits)
            break;
    }
    return font;
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

void AnalyzerFrm::place(QWidget *widget, int left, int top, int width, int height, Stretch stretch)
{
    m_placements.append({widget, QRect(left, top, width, height), stretch});
    widget->setGeometry(pixelsX(left), pixelsY(top), pixelsX(width), pixelsY(height));
}

void AnalyzerFrm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

void AnalyzerFrm::layoutControls()
{
    const int menuHeight = m_menus->menuBar()->sizeHint().height();
    m_menus->menuBar()->setGeometry(0, 0, width(), menuHeight);
    m_client->setGeometry(0, menuHeight, width(), height() - menuHeight);
    // What the window has beyond its own size goes to the panes and the strip, the data pane
    // most; the fields and buttons keep their sizes, those of the command below the data pane.
    const int wider = std::max(0, m_client->width() - pixelsX(ClientWidth));
    const int taller = std::max(0, m_client->height() - pixelsY(ClientHeight));
    const int pane = taller * 3 / 4;
    for (const Placement &p : std::as_const(m_placements)) {
        QRect r(pixelsX(p.twips.left()), pixelsY(p.twips.top()), pixelsX(p.twips.width()), pixelsY(p.twips.height()));
        switch (p.stretch) {
        case Stretch::None:
            break;
        case Stretch::Width:
            r.setWidth(r.width() + wider);
            break;
        case Stretch::Pane:
            r.setSize(r.size() + QSize(wider, pane));
            break;
        case Stretch::BelowPane:
            r.translate(0, pane);
            break;
        case Stretch::Strip:
            r.translate(0, pane);
            r.setSize(r.size() + QSize(wider, taller - pane));
            break;
        }
        p.widget->setGeometry(r);
    }
}

CaptureFeatures AnalyzerFrm::features() const
{
    return m_menus->features();
}

void AnalyzerFrm::exportSession()
{
    const QString target = QFileDialog::getSaveFileName(
        this, tr("Export session to Wireshark"), QDir(m_engine.captureFolder()).filePath(QStringLiteral("session.pcap")),
        tr("Packet captures (*.pcap)"));
    if (target.isEmpty())
        return;
    try {
        // The last tracker connection, as the operator most often wants the one just seen.
        const SessionIndex index = SessionIndex::read(m_engine.captureFolder(), m_engine.inPort());
        const int session = int(index.sessions().size());
        if (session == 0)
            throw SessionError(tr("%1 holds no tracker connection.").arg(QDir::toNativeSeparators(m_engine.captureFolder())));
        PcapExport::write(index, session, target);
        QMessageBox::information(this, tr("Export session to Wireshark"),
                                 tr("Session %1 written to %2.").arg(session).arg(QDir::toNativeSeparators(target)));
    } catch (const SessionError &error) {
        QMessageBox::warning(this, tr("Export session to Wireshark"), error.message());
    }
}

void AnalyzerFrm::buildCommandFrame()
{
    CommandFrameDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted || dialog.frame().isEmpty())
        return;
    // The frame becomes the command as HEX bytes; it carries its own end, so no CR LF follows.
    m_text4->setText(commaSeparatedHex(dialog.frame()));
    m_combo1->setCurrentText(QStringLiteral("HEX"));
    m_menus->appendCrLf->setChecked(false);
}

void AnalyzerFrm::showAbout()
{
    QMessageBox::about(this, tr("About gps-analyzer"),
                       tr("<b>TCP/IP GPS Protocol Analyzer</b> (gps-analyzer) %1<br><br>"
                          "Captures what a GPS tracker sends, relays it to a server and captures the answers.<br><br>"
                          "Capture folder: %2<br><br>Free to use and to distribute.")
                           .arg(QStringLiteral(GPSA_VERSION), QDir::toNativeSeparators(m_engine.captureFolder()).toHtmlEscaped()));
}

bool AnalyzerFrm::chooseTrackersAtOnce(int trackers)
{
    CaptureFeatures chosen = m_menus->features();
    chosen.maxTrackers = trackers;
    const QString problem = openFilesProblem(chosen, value(Control::RelaySwitch) == CheckValue::Ticked);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("Trackers at once"), problem);
        return false;
    }
    m_menus->setMaxTrackers(trackers);
    return true;
}

bool AnalyzerFrm::chooseMirrors(const QString &mirrors)
{
    const QStringList servers = mirrors.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    for (const QString &server : servers) {
        if (!isHostAndPort(server)) {
            QMessageBox::warning(this, tr("Mirror to"), tr("%1 is no HOST:PORT, such as 127.0.0.1:5002.").arg(server));
            return false;
        }
    }
    if (servers.size() > CaptureFeatures::MostMirrors) {
        QMessageBox::warning(this, tr("Mirror to"), tr("At most %1 mirrors.").arg(CaptureFeatures::MostMirrors));
        return false;
    }
    m_menus->setMirrors(servers);
    return true;
}

void AnalyzerFrm::askTrackersAtOnce()
{
    bool ok = false;
    const int trackers = QInputDialog::getInt(
        this, tr("Trackers at once"),
        tr("Trackers served at once (1: one at a time, the others declined).\n"
           "With more, each is named in its lines and relays over an OUT connection of its own."),
        m_menus->features().maxTrackers, 1, CaptureFeatures::MostTrackers, 1, &ok);
    if (ok)
        chooseTrackersAtOnce(trackers);
}

void AnalyzerFrm::askMirrors()
{
    bool ok = false;
    const QString mirrors = QInputDialog::getText(
        this, tr("Mirror to"),
        tr("Servers that get a copy of every tracker chunk, HOST:PORT, up to %1, separated by commas.\n"
           "What they answer is captured and never sent to the tracker.")
            .arg(CaptureFeatures::MostMirrors),
        QLineEdit::Normal, m_menus->features().mirrors.join(QStringLiteral(", ")), &ok);
    if (ok)
        chooseMirrors(mirrors);
}

void AnalyzerFrm::showTrackers()
{
    if (!m_trackersWindow)
        m_trackersWindow = new TrackersWindow(m_engine.trackers(), this);
    m_trackersWindow->show();
    m_trackersWindow->raise();
    m_trackersWindow->activateWindow();
}

bool AnalyzerFrm::startLiveView(const WebSettings &settings)
{
    if (m_liveView != nullptr) {
        m_liveViewError = tr("The live view already runs: %1").arg(m_liveView->address());
        return false;
    }
    auto *liveView = new LiveViewService(
        m_engine.captureFolder(), [this] { return m_engine.inPort(); },
        [this](const QString &line) { appendToLog(line); }, this);
    if (!liveView->start(settings)) {
        m_liveViewError = liveView->errorString();
        delete liveView;
        return false;
    }
    m_liveView = liveView;
    liveView->view().follow(m_engine);
    // The page's table starts with what the window's holds; the panes with what comes next.
    if (!m_positions->rows().isEmpty())
        liveView->view().positionsDecoded(std::span(m_positions->rows().constData(), size_t(m_positions->rows().size())));
    m_paneWatcher = &liveView->view();
    m_menus->shareLiveView->setEnabled(false);
    return true;
}

void AnalyzerFrm::shareLiveView()
{
    const QString title = tr("Share live view");
    if (!LiveViewService::available()) {
        QMessageBox::warning(this, title, tr("This build of gps-analyzer has no live view."));
        return;
    }
    bool ok = false;
    const QString address = QInputDialog::getText(
        this, title,
        tr("Serve a read-only view of the panes to browsers on [ADDRESS:]PORT.\n"
           "127.0.0.1 is this computer only; 0.0.0.0 lets every computer that reaches it open the page "
           "with its token."),
        QLineEdit::Normal, QStringLiteral("127.0.0.1:8080"), &ok);
    if (!ok)
        return;
    QString problem;
    const std::optional<WebSettings> settings = WebAccess::parseAddress(address.trimmed(), &problem);
    if (!settings || !startLiveView(*settings)) {
        QMessageBox::warning(this, title, settings ? m_liveViewError : problem);
        return;
    }
    QMessageBox box(QMessageBox::Information, title,
                    tr("Open this address in a browser:\n\n%1\n\nAnyone with the address can watch.")
                        .arg(m_liveView->address()),
                    QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
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
    m_menus->freeze();
}

// The one table of the window's control for each control that the engine names.
QWidget *AnalyzerFrm::widget(Control control) const
{
    switch (control) {
    case Control::StartButton:
        return m_command1;
    case Control::ConnectionLog:
        return m_text1;
    case Control::InPort:
        return m_text2;
    case Control::DataPane:
        return m_text3;
    case Control::Command:
        return m_text4;
    case Control::OutPort:
        return m_text5;
    case Control::OutHost:
        return m_text6;
    case Control::SendOnConnect:
        return m_check1;
    case Control::AutoSend:
        return m_check2;
    case Control::RelaySwitch:
        return m_check3;
    case Control::CommandType:
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

void AnalyzerFrm::setText(Control control, const QString &text)
{
    QWidget *const w = widget(control);
    if (auto *box = qobject_cast<QLineEdit *>(w))
        box->setText(text);
    // The combo box is editable: any text is kept as typed, an item's text as well.
    else if (auto *combo = qobject_cast<QComboBox *>(w))
        combo->setCurrentText(text);
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
    if (m_paneWatcher)
        m_paneWatcher->appendToLog(line);
}

void AnalyzerFrm::prependToLog(const QString &line)
{
    m_text1->prependLine(line);
    if (m_paneWatcher)
        m_paneWatcher->prependToLog(line);
}

void AnalyzerFrm::replaceLog(const QString &text)
{
    m_text1->replaceText(text);
    if (m_paneWatcher)
        m_paneWatcher->replaceLog(text);
}

void AnalyzerFrm::prependToDataPane(const QString &line)
{
    m_text3->prependLine(line);
    if (m_paneWatcher)
        m_paneWatcher->prependToDataPane(line);
}

void AnalyzerFrm::prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk)
{
    const QString asciiTime = DateTimeText::now();
    m_text3->prependChunkLine(asciiTime, asciiTag, chunk, TextPane::Rendering::Ascii);
    const QString hexTime = DateTimeText::now();
    m_text3->prependChunkLine(hexTime, hexTag, chunk, TextPane::Rendering::Hex);
    if (m_paneWatcher) {
        m_paneWatcher->prependChunkLine(asciiTime, asciiTag, chunk, PaneWatcher::Rendering::Ascii);
        m_paneWatcher->prependChunkLine(hexTime, hexTag, chunk, PaneWatcher::Rendering::Hex);
    }
}

void AnalyzerFrm::eventHandled()
{
    if (m_paneWatcher)
        m_paneWatcher->eventHandled();
}

void AnalyzerFrm::positionsDecoded(std::span<const PositionRow> rows)
{
    m_positions->append(rows);
    if (m_paneWatcher)
        m_paneWatcher->positionsDecoded(rows);
}

PositionsWindow *AnalyzerFrm::showPositions()
{
    if (!m_positionsWindow)
        m_positionsWindow = new PositionsWindow(*m_positions, this);
    m_positionsWindow->show();
    m_positionsWindow->raise();
    return m_positionsWindow;
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
