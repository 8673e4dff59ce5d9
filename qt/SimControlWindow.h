// The simulator's own window in ostrel-sim: drives the simulated controller the programmer
// talks to (measurements, firmware version, history reports, unplugging).
#pragma once

#include <QWidget>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace sim {
class SimulatedOstrel;
}

namespace qtui {

class SimControlWindow final : public QWidget {
    Q_OBJECT

public:
    explicit SimControlWindow(sim::SimulatedOstrel& controller, QWidget* parent = nullptr);

private:
    void applyFirmwareVersion();
    void applyMeasurements();
    void sendHistory();
    void unplug();
    // Volts per count of the input voltage for the chosen firmware, as the window scales it.
    double inputVoltageFactor() const;
    // Volts per count of a table row under a firmware major version.
    static double factor(int row, int major);
    void keepRailVolts(int fromMajor, int toMajor);

    sim::SimulatedOstrel& m_controller;
    QComboBox* m_major = nullptr;
    QSpinBox* m_minor = nullptr;
    QDoubleSpinBox* m_inputVoltage = nullptr;
    QLabel* m_inputCounts = nullptr;
    QSpinBox* m_temperature = nullptr;
    QSpinBox* m_historyPosition = nullptr;
    QPushButton* m_sendHistory = nullptr;
    QPushButton* m_unplug = nullptr;
    int m_shownMajor = 0;  // the major version the measurements are scaled for
};

}  // namespace qtui
