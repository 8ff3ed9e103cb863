#pragma once

#include "skin/VuStyleOptions.h"

#include <QComboBox>

namespace host {

// A combo box drawn by the skin style in one of two looks: filled (a tinted box with the
// arrow in its bottom-right corner) or plain (a grey outline, arrow at the right).
class VuComboBox : public QComboBox
{
    Q_OBJECT
    Q_PROPERTY(bool filledLook READ isFilledLook)
public:
    explicit VuComboBox(QWidget *parent = nullptr);

    // Subclasses may decide the look from their own state.
    virtual bool isFilledLook() const { return m_filledLook; }
    void setFilledLook(bool filled) { m_filledLook = filled; }

    void initStyleOption(skin::VuStyleOptionComboBox *opt) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_filledLook = false;
};

} // namespace host
