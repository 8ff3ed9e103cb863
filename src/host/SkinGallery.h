#pragma once

#include <QStyle>
#include <QWidget>

namespace host {

class VuComboBox;
class VuMenu;
class VuPushButton;
class VuToolButton;
class VuLineEdit;

// Every skinned control in every state that changes its colours: one row per control, one
// column per state, and a strip of window shadows below. Drawn through the application's
// style, with hidden instances of the library's widgets standing in for the real ones.
class SkinGallery : public QWidget
{
    Q_OBJECT
public:
    enum Row {
        PushButton,
        PushButtonStrong,
        PushButtonSave,
        CheckBox,
        RadioButton,
        LineEdit,
        ComboBoxFilled,
        ComboBoxPlain,
        MenuItem,
        ScrollBar,
        SliderSkinned,
        SliderBuiltIn,
        SpinBox,
        ToolButton,
        RowCount
    };
    enum Column { Normal, Hovered, Pressed, On, Disabled, DisabledHovered, ColumnCount };

    // Sizes follow the screen: device-independent sizes scaled to its DPI, room for text
    // measured in the application's font. The program and the tests that read its
    // screenshots compute the same layout.
    static QSize controlSize();
    static int labelWidth();
    static int headerHeight();
    static QSize cellSize();

    explicit SkinGallery(QWidget *parent = nullptr);
    ~SkinGallery() override;

    static QString rowName(Row row);
    static QString columnName(Column column);

    static QSize gallerySize();
    // Where the control of a cell is drawn, in gallery coordinates.
    static QRect controlRect(Row row, Column column);
    // The window shadows: outline rectangles of the two sample windows.
    static QRect shadowWindowRect(int index);
    static QStyle::State stateOf(Column column);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintControl(QPainter *p, Row row, QStyle::State state) const;
    void paintShadows(QPainter *p) const;
    template <typename Record>
    void drawIndicator(QPainter *p, QStyle::ControlElement element, const QString &text,
                       QStyle::State state) const;

    // Stand-ins that answer the style's questions (radii, look, menu area, class identity).
    VuPushButton *m_button;
    VuComboBox *m_filledCombo;
    VuComboBox *m_plainCombo;
    VuMenu *m_menu;
    VuToolButton *m_toolButton;
    VuLineEdit *m_lineEdit;
};

} // namespace host
