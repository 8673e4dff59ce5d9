// The simulator's own window in ostrel-sim: the fields of sim::SimPanel, which drives the
// simulated controller the programmer talks to.
#pragma once

#include <QWidget>

#include "sim/SimPanel.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace qtui {

class SimControlWindow final : public QWidget {
    Q_OBJECT

public:
    explicit SimControlWindow(sim::SimulatedOstrel& controller, QWidget* parent = nullptr);

private:
    // Shows the panel's values in the fields without reporting them back as changes.
    void showPanel();
    void unplug();

    sim::SimPanel m_panel;
    QComboBox* m_major = nullptr;
    QSpinBox* m_minor = nullptr;
    QDoubleSpinBox* m_inputVoltage = nullptr;
    QLabel* m_inputCounts = nullptr;
    QSpinBox* m_temperature = nullptr;
    QSpinBox* m_historyPosition = nullptr;
    QPushButton* m_sendHistory = nullptr;
    QPushButton* m_unplug = nullptr;
};

}  // namespace qtui
