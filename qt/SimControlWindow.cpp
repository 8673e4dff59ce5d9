#include "qt/SimControlWindow.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <functional>

namespace qtui {

using sim::SimPanel;

namespace {

// The input voltage's field, whose steps (arrows, Up and Down) are one count each: after a
// step it calls `stepped`, so that it shows the volts of that count and not its own sum.
class CountsSpinBox final : public QDoubleSpinBox {
public:
    using QDoubleSpinBox::QDoubleSpinBox;
    std::function<void()> stepped;

    void stepBy(int steps) override {
        QDoubleSpinBox::stepBy(steps);
        if (stepped) {
            stepped();
        }
    }
};

}  // namespace

SimControlWindow::SimControlWindow(sim::SimulatedOstrel& controller, QWidget* parent)
    : QWidget(parent), m_panel(controller) {
    setWindowTitle(tr("Ostrel simulator"));

    auto* firmwareGroup = new QGroupBox(tr("Firmware"), this);
    m_major = new QComboBox(firmwareGroup);
    m_major->setObjectName(QStringLiteral("major"));
    auto* majorNote = new QLabel(QString::fromLatin1(SimPanel::MAJOR_NOTE), firmwareGroup);
    majorNote->setObjectName(QStringLiteral("majorNote"));
    majorNote->setWordWrap(true);
    m_minor = new QSpinBox(firmwareGroup);
    m_minor->setObjectName(QStringLiteral("minor"));
    m_minor->setRange(SimPanel::MINOR_FIRST, SimPanel::MINOR_LAST);
    auto* firmwareLayout = new QFormLayout(firmwareGroup);
    firmwareLayout->addRow(tr("Major version:"), m_major);
    firmwareLayout->addRow(majorNote);
    firmwareLayout->addRow(tr("Minor version:"), m_minor);

    auto* measureGroup = new QGroupBox(tr("Measurements"), this);
    auto* inputVoltage = new CountsSpinBox(measureGroup);
    inputVoltage->stepped = [this] { showPanel(); };
    m_inputVoltage = inputVoltage;
    m_inputVoltage->setObjectName(QStringLiteral("inputVoltage"));
    m_inputVoltage->setSuffix(QStringLiteral(" V"));
    m_inputVoltage->setDecimals(2);
    m_inputCounts = new QLabel(measureGroup);
    m_inputCounts->setObjectName(QStringLiteral("inputCounts"));
    m_temperature = new QSpinBox(measureGroup);
    m_temperature->setObjectName(QStringLiteral("temperature"));
    m_temperature->setRange(SimPanel::TEMPERATURE_FIRST, SimPanel::TEMPERATURE_LAST);
    m_temperature->setSuffix(QString::fromUtf8(" \u00B0C"));
    auto* measureLayout = new QFormLayout(measureGroup);
    measureLayout->addRow(tr("Input voltage:"), m_inputVoltage);
    measureLayout->addRow(tr("Sent as:"), m_inputCounts);
    measureLayout->addRow(tr("Temperature:"), m_temperature);

    auto* historyGroup = new QGroupBox(tr("History report"), this);
    m_historyPosition = new QSpinBox(historyGroup);
    m_historyPosition->setObjectName(QStringLiteral("historyPosition"));
    m_historyPosition->setRange(SimPanel::HISTORY_FIRST, SimPanel::HISTORY_LAST);
    m_sendHistory = new QPushButton(tr("Send &history"), historyGroup);
    m_sendHistory->setObjectName(QStringLiteral("sendHistory"));
    auto* historyLayout = new QHBoxLayout(historyGroup);
    auto* markedLabel = new QLabel(tr("Marked offset:"), historyGroup);
    markedLabel->setBuddy(m_historyPosition);
    const QString markedHelp =
        tr("The offset in the history report (2 to 23) of the entry the programmer's "
           "\"Status history\" row shows in parentheses: the controller's current position.");
    markedLabel->setToolTip(markedHelp);
    m_historyPosition->setToolTip(markedHelp);
    historyLayout->addWidget(markedLabel);
    historyLayout->addWidget(m_historyPosition);
    historyLayout->addWidget(m_sendHistory);

    m_unplug = new QPushButton(tr("&Unplug the controller"), this);
    m_unplug->setObjectName(QStringLiteral("unplug"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(firmwareGroup);
    layout->addWidget(measureGroup);
    layout->addWidget(historyGroup);
    layout->addWidget(m_unplug);
    layout->addStretch();

    showPanel();
    connect(m_major, &QComboBox::currentIndexChanged, this, [this] {
        m_panel.setMajor(m_major->currentData().toInt());
        showPanel();
    });
    connect(m_minor, &QSpinBox::valueChanged, this, [this](int minor) { m_panel.setMinor(minor); });
    connect(m_inputVoltage, &QDoubleSpinBox::valueChanged, this, [this](double volts) {
        m_panel.setInputVolts(volts);  // the field keeps what the user is typing
        m_inputCounts->setText(QString::fromStdString(m_panel.countsText()));
    });
    // Typed volts done with (Enter, or the focus gone): the field shows what the counts
    // stand for.
    connect(m_inputVoltage, &QDoubleSpinBox::editingFinished, this, [this] { showPanel(); });
    connect(m_temperature, &QSpinBox::valueChanged, this,
            [this](int degrees) { m_panel.setTemperature(degrees); });
    connect(m_sendHistory, &QPushButton::clicked, this,
            [this] { m_panel.sendHistory(m_historyPosition->value()); });
    connect(m_unplug, &QPushButton::clicked, this, [this] { unplug(); });
}

void SimControlWindow::showPanel() {
    const QSignalBlocker majorBlocker(m_major);
    const QSignalBlocker minorBlocker(m_minor);
    const QSignalBlocker voltsBlocker(m_inputVoltage);
    const QSignalBlocker temperatureBlocker(m_temperature);
    // Only the versions the panel still offers.
    m_major->clear();
    for (int major = m_panel.majorFirst(); major <= SimPanel::MAJOR_LAST; ++major) {
        m_major->addItem(QString::fromStdString(SimPanel::majorText(major)), major);
    }
    m_major->setCurrentIndex(m_panel.major() - m_panel.majorFirst());
    m_minor->setValue(m_panel.minor());
    // Range and step follow the firmware's scaling; set them before the value.
    m_inputVoltage->setRange(0.0, m_panel.inputVoltsLast());
    m_inputVoltage->setSingleStep(m_panel.inputVoltsStep());
    m_inputVoltage->setValue(m_panel.inputVolts());
    m_temperature->setValue(m_panel.temperature());
    m_inputCounts->setText(QString::fromStdString(m_panel.countsText()));
}

void SimControlWindow::unplug() {
    m_panel.unplug();
    // Nothing to drive any more: the programmer sees the device gone and ends.
    for (QWidget* widget : findChildren<QWidget*>()) {
        widget->setEnabled(false);
    }
    m_unplug->setText(tr("Unplugged"));
}

}  // namespace qtui
