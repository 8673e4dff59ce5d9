#include "qt/SimControlWindow.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

#include "params/ParamTable.h"
#include "sim/SimulatedOstrel.h"

namespace qtui {
namespace {

constexpr int SIM_MAJOR_FIRST = 1;
constexpr int SIM_MAJOR_LAST = 2;
constexpr int SIM_RAW_MAX = 255;
constexpr int SIM_HISTORY_FIRST = 2;  // report offsets of the history entries
constexpr int SIM_HISTORY_LAST = 23;

}  // namespace

SimControlWindow::SimControlWindow(sim::SimulatedOstrel& controller, QWidget* parent)
    : QWidget(parent), m_controller(controller) {
    setWindowTitle(tr("Ostrel simulator"));
    const std::uint8_t version = controller.firmware().firmwareVersion();
    const sim::Measurements measured = controller.firmware().measurements();

    auto* firmwareGroup = new QGroupBox(tr("Firmware"), this);
    m_major = new QComboBox(firmwareGroup);
    m_major->setObjectName(QStringLiteral("major"));
    for (int major = SIM_MAJOR_FIRST; major <= SIM_MAJOR_LAST; ++major) {
        m_major->addItem(QStringLiteral("%1.x").arg(major), major);
    }
    m_major->setCurrentIndex(std::clamp(firmwareMajor(version), SIM_MAJOR_FIRST, SIM_MAJOR_LAST) -
                             SIM_MAJOR_FIRST);
    m_minor = new QSpinBox(firmwareGroup);
    m_minor->setObjectName(QStringLiteral("minor"));
    m_minor->setRange(0, 15);
    m_minor->setValue(firmwareMinor(version));
    auto* firmwareLayout = new QFormLayout(firmwareGroup);
    firmwareLayout->addRow(tr("Major version:"), m_major);
    firmwareLayout->addRow(tr("Minor version:"), m_minor);

    auto* measureGroup = new QGroupBox(tr("Measurements"), this);
    m_inputVoltage = new QDoubleSpinBox(measureGroup);
    m_inputVoltage->setObjectName(QStringLiteral("inputVoltage"));
    m_inputVoltage->setSuffix(QStringLiteral(" V"));
    m_inputVoltage->setDecimals(2);
    m_inputVoltage->setSingleStep(0.1);
    m_inputCounts = new QLabel(measureGroup);
    m_temperature = new QSpinBox(measureGroup);
    m_temperature->setObjectName(QStringLiteral("temperature"));
    m_temperature->setRange(-128, 127);
    m_temperature->setSuffix(QString::fromUtf8(" \u00B0C"));
    m_temperature->setValue(measured.temperature);
    auto* measureLayout = new QFormLayout(measureGroup);
    measureLayout->addRow(tr("Input voltage:"), m_inputVoltage);
    measureLayout->addRow(tr("Sent as:"), m_inputCounts);
    measureLayout->addRow(tr("Temperature:"), m_temperature);

    auto* historyGroup = new QGroupBox(tr("History report"), this);
    m_historyPosition = new QSpinBox(historyGroup);
    m_historyPosition->setObjectName(QStringLiteral("historyPosition"));
    m_historyPosition->setRange(SIM_HISTORY_FIRST, SIM_HISTORY_LAST);
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

    // The voltage range follows the firmware's scaling; set it before the value.
    m_inputVoltage->setRange(0.0, SIM_RAW_MAX * inputVoltageFactor());
    m_inputVoltage->setValue(measured.inputVoltage * inputVoltageFactor());
    applyMeasurements();

    m_shownMajor = m_major->currentData().toInt();
    connect(m_major, &QComboBox::currentIndexChanged, this, [this] {
        const int major = m_major->currentData().toInt();
        keepRailVolts(m_shownMajor, major);
        m_shownMajor = major;
        const double volts = m_inputVoltage->value();
        m_inputVoltage->setRange(0.0, SIM_RAW_MAX * inputVoltageFactor());
        m_inputVoltage->setValue(volts);
        applyFirmwareVersion();
        applyMeasurements();
    });
    connect(m_minor, &QSpinBox::valueChanged, this, [this] { applyFirmwareVersion(); });
    connect(m_inputVoltage, &QDoubleSpinBox::valueChanged, this, [this] { applyMeasurements(); });
    connect(m_temperature, &QSpinBox::valueChanged, this, [this] { applyMeasurements(); });
    connect(m_sendHistory, &QPushButton::clicked, this, [this] { sendHistory(); });
    connect(m_unplug, &QPushButton::clicked, this, [this] { unplug(); });
}

double SimControlWindow::factor(int row, int major) {
    ParamTable table;
    table.applyFirmwareVersion(firmwareVersion(major, 0));
    return table.row(row).factor;
}

double SimControlWindow::inputVoltageFactor() const {
    return factor(ROW_INPUT_VOLTAGE, m_major->currentData().toInt());
}

void SimControlWindow::keepRailVolts(int fromMajor, int toMajor) {
    // The rails the window has no field for: a new firmware's scaling must not change the
    // volts they stand for, only the counts that carry them.
    sim::Measurements measured = m_controller.firmware().measurements();
    const std::pair<int, std::uint8_t sim::Measurements::*> rails[] = {
        {ROW_IGNITION_VOLTAGE, &sim::Measurements::ignitionVoltage},
        {ROW_RAIL_3V, &sim::Measurements::rail3V},
        {ROW_RAIL_5V, &sim::Measurements::rail5V},
        {ROW_RAIL_12V, &sim::Measurements::rail12V},
    };
    for (const auto& [row, counts] : rails) {
        const double volts = measured.*counts * factor(row, fromMajor);
        const long converted = std::lround(volts / factor(row, toMajor));
        measured.*counts = static_cast<std::uint8_t>(std::clamp(converted, 0L, long{SIM_RAW_MAX}));
    }
    m_controller.firmware().setMeasurements(measured);
}

void SimControlWindow::applyFirmwareVersion() {
    const int major = m_major->currentData().toInt();
    m_controller.firmware().setFirmwareVersion(firmwareVersion(major, m_minor->value()));
}

void SimControlWindow::applyMeasurements() {
    sim::Measurements measured = m_controller.firmware().measurements();
    const long counts = std::lround(m_inputVoltage->value() / inputVoltageFactor());
    measured.inputVoltage = static_cast<std::uint8_t>(std::clamp(counts, 0L, long{SIM_RAW_MAX}));
    measured.temperature = static_cast<std::int8_t>(m_temperature->value());
    m_controller.firmware().setMeasurements(measured);
    m_inputCounts->setText(tr("%1 counts").arg(measured.inputVoltage));
}

void SimControlWindow::sendHistory() {
    m_controller.firmware().sendHistory(static_cast<std::uint8_t>(m_historyPosition->value()));
}

void SimControlWindow::unplug() {
    m_controller.unplug();
    // Nothing to drive any more: the programmer sees the device gone and ends.
    for (QWidget* widget : findChildren<QWidget*>()) {
        widget->setEnabled(false);
    }
    m_unplug->setText(tr("Unplugged"));
}

}  // namespace qtui
