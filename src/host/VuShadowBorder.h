#pragma once

#include "skin/VuStyleOptions.h"

#include <QPointer>
#include <QWidget>

namespace host {

// A frameless, see-through window that lies around a target window and paints its soft
// shadow (and, if asked, an outline) through the skin style.
class VuShadowBorder : public QWidget
{
    Q_OBJECT
public:
    explicit VuShadowBorder(QWidget *target = nullptr, int margin = 10,
                            bool lowerBelowTarget = true);

    QWidget *target() const { return m_target; }
    int margin() const { return m_margin; }
    // Negative: the shadow may show itself when the target is visible.
    int showState() const { return m_showState; }
    void setShowState(int state) { m_showState = state; }

    // Whether the shadow should stay hidden whatever the target does.
    virtual bool shouldHide() const { return false; }

    void initStyleOption(skin::VuStyleOptionShadowBorder *opt) const;

public slots:
    // Follows the target: shows the shadow when the target shows and puts it around the
    // target's geometry, `margin` wider on every side.
    void onDelayedShowTimer();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<QWidget> m_target;
    int m_margin;
    bool m_lowerBelowTarget;
    int m_showState = -1;
};

} // namespace host
