#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStyle>

#include <utility>

// The application's one dark look: the palette, and the style sheet made from it. Pages set object
// names and the "class" / "active" properties that the rules select on, never colours or style
// sheets of their own; the few colours that are painted rather than styled (icons) come from the
// palette too. Every focusable control has a :focus rule that keeps its outer size; the unchecked
// check box's outline has a contrast of 3.5:1 against the card it sits on.
namespace Theme {

// Every colour of the look, by role.
namespace Palette {
inline constexpr char Base[] = "#0d1117";        // every widget's ground, the content area, inputs
inline constexpr char Sidebar[] = "#161b22";     // the sidebar, lists and code boxes
inline constexpr char Surface[] = "#1c2129";     // cards
inline constexpr char Hover[] = "#252c38";       // what the pointer is over; secondary buttons, muted badges
inline constexpr char Hairline[] = "#262c37";    // borders, scroll handles
inline constexpr char Text[] = "#e0e4ea";        // primary text
inline constexpr char TextDim[] = "#8892a0";     // secondary text, inactive sidebar icons
inline constexpr char TextFaint[] = "#5b6472";   // faint text, disabled buttons
inline constexpr char TextMuted[] = "#a8b2c0";   // the muted badge's text
inline constexpr char Outline[] = "#6e7681";     // the unchecked check box
inline constexpr char Accent[] = "#4d8fd1";      // primary buttons, focus and hover borders, icons on cards
inline constexpr char AccentLight[] = "#6ba3e0"; // hovered primary buttons, the active page and toggle
inline constexpr char AccentTint[] = "rgba(77,143,209,0.12)";
inline constexpr char Selection[] = "rgba(77,143,209,0.18)";
inline constexpr char Success[] = "#2dbe78";
inline constexpr char SuccessTint[] = "rgba(45,190,120,0.12)";
inline constexpr char Warning[] = "#d4a72c";
inline constexpr char WarningTint[] = "rgba(212,167,44,0.12)";
inline constexpr char Danger[] = "#e5534b";
inline constexpr char DangerTint[] = "rgba(229,83,75,0.12)";
inline constexpr char OnAccent[] = "#ffffff"; // text and icons on a coloured fill
inline constexpr char ToastInfo[] = "rgba(22,27,34,0.95)";
inline constexpr char ToastSuccess[] = "rgba(45,190,120,0.95)";
inline constexpr char ToastError[] = "rgba(229,83,75,0.95)";
inline constexpr char ToastBorder[] = "rgba(255,255,255,0.1)";
} // namespace Palette

// The rules, with each colour named by its role between percent signs.
inline constexpr char StyleTemplate[] = R"CSS(
QWidget {
    background-color: %base%;
    color: %text%;
    font-family: "Segoe UI", "Inter", system-ui, sans-serif;
    font-size: 13px;
}
#sidebar {
    background-color: %sidebar%;
    border-right: 1px solid %hairline%;
    min-width: 220px;
    max-width: 220px;
}
#sidebar QLabel {
    background: transparent;
}
#sidebarBrand {
    font-size: 15px;
    font-weight: bold;
    color: %text%;
    padding: 0;
    background: transparent;
    letter-spacing: -0.3px;
}
QPushButton[class="nav"] {
    text-align: left;
    padding: 9px 12px;
    border: none;
    border-radius: 8px;
    color: %text-dim%;
    font-size: 13px;
    font-weight: 500;
    background: transparent;
}
QPushButton[class="nav"]:hover {
    background-color: %hover%;
    color: %text%;
}
QPushButton[class="nav"][active="true"] {
    background-color: %accent-tint%;
    color: %accent-light%;
}
QPushButton[class="nav"]:focus {
    outline: none;
    border: 2px solid %accent-light%;
    padding: 7px 10px;
}
#sidebarFooter {
    border-top: 1px solid %hairline%;
    padding: 12px 18px;
    font-size: 11px;
    color: %text-faint%;
    background: transparent;
}
#content {
    background-color: %base%;
}
QFrame[class="card"] {
    background-color: %surface%;
    border: 1px solid %hairline%;
    border-radius: 12px;
    padding: 20px;
}
QFrame[class="card"]:hover {
    border: 1px solid %accent%;
}
QPushButton[class="primary"] {
    background-color: %accent%;
    color: %on-accent%;
    border: none;
    border-radius: 8px;
    padding: 8px 16px;
    font-weight: 600;
    font-size: 13px;
}
QPushButton[class="primary"]:hover {
    background-color: %accent-light%;
}
QPushButton[class="primary"]:focus {
    outline: none;
    border: 2px solid %text%;
    padding: 6px 14px;
}
QPushButton[class="secondary"] {
    background-color: %hover%;
    color: %text%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    padding: 8px 16px;
    font-weight: 600;
    font-size: 13px;
}
QPushButton[class="secondary"]:hover {
    border-color: %accent%;
}
QPushButton[class="secondary"]:focus {
    outline: none;
    border: 2px solid %accent-light%;
    padding: 7px 15px;
}
QPushButton[class="ghost"] {
    background: transparent;
    color: %text-dim%;
    border: none;
    border-radius: 8px;
    padding: 5px 12px;
    font-size: 12px;
}
QPushButton[class="ghost"]:hover {
    color: %text%;
    background-color: %hover%;
}
QPushButton[class="ghost"]:focus {
    outline: none;
    color: %text%;
    border: 2px solid %accent-light%;
    padding: 3px 10px;
}
QPushButton[class="icon-button"] {
    background: transparent;
    border: 1px solid transparent;
    border-radius: 8px;
    padding: 0;
}
QPushButton[class="icon-button"]:hover {
    background-color: %hover%;
    border-color: %text-faint%;
}
QPushButton[class="icon-button"]:focus {
    border-color: %accent-light%;
    outline: none;
}
QPushButton[class="icon-button"]:pressed {
    background-color: %hairline%;
}
QPushButton[class="danger"] {
    background-color: %danger-tint%;
    color: %danger%;
    border: none;
    border-radius: 8px;
    padding: 5px 12px;
    font-weight: 600;
    font-size: 12px;
}
QPushButton[class="danger"]:hover {
    background-color: %danger%;
    color: %on-accent%;
}
QPushButton[class="danger"]:focus {
    outline: none;
    border: 2px solid %danger%;
    padding: 3px 10px;
}
QPushButton[class="toggle"] {
    background: %base%;
    color: %text-dim%;
    border: 1px solid %hairline%;
    padding: 10px 16px;
    font-size: 13px;
    font-weight: 500;
}
QPushButton[class="toggle"]:hover {
    background: %hover%;
    color: %text%;
}
QPushButton[class="toggle"][active="true"] {
    background: %accent-tint%;
    color: %accent-light%;
    font-weight: 600;
}
QPushButton[class="toggle"]:focus {
    outline: none;
    border: 2px solid %accent-light%;
    padding: 9px 15px;
}
QLineEdit {
    background-color: %base%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    color: %text%;
    padding: 9px 14px;
    font-family: "Cascadia Code", "JetBrains Mono", monospace;
    font-size: 13px;
    selection-background-color: %accent%;
}
QLineEdit:focus {
    border-color: %accent%;
}
QCheckBox {
    color: %text%;
    spacing: 8px;
    background: transparent;
}
QCheckBox::indicator {
    width: 16px;
    height: 16px;
    border-radius: 4px;
    border: 1px solid %outline%;
    background-color: %base%;
}
QCheckBox::indicator:checked {
    background-color: %accent%;
    border-color: %accent%;
    image: url(:/theme/check.svg);
}
QCheckBox:focus {
    outline: none;
}
QCheckBox::indicator:focus {
    width: 14px;
    height: 14px;
    border: 2px solid %accent-light%;
}
QCheckBox::indicator:checked:focus {
    border-color: %text%;
}
QScrollArea {
    border: none;
    background: transparent;
}
QScrollArea > QWidget > QWidget {
    background: transparent;
}
QScrollBar:vertical {
    width: 6px;
    background: transparent;
}
QScrollBar::handle:vertical {
    background: %hairline%;
    border-radius: 3px;
    min-height: 30px;
}
QScrollBar::handle:vertical:hover {
    background: %text-faint%;
}
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical {
    height: 0;
}
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical {
    background: transparent;
}
QLabel[class="title"] {
    font-size: 22px;
    font-weight: bold;
    background: transparent;
    letter-spacing: -0.5px;
}
QLabel[class="subtitle"] {
    font-size: 13px;
    color: %text-dim%;
    background: transparent;
}
QLabel[class="section-title"] {
    font-size: 13px;
    font-weight: bold;
    color: %text-dim%;
    background: transparent;
    letter-spacing: 0.8px;
}
QLabel[class="dim"] {
    color: %text-dim%;
    background: transparent;
}
QLabel[class="faint"] {
    color: %text-faint%;
    background: transparent;
    font-size: 12px;
}
QLabel[class="mono"] {
    font-family: "Cascadia Code", "JetBrains Mono", monospace;
    font-size: 12px;
    color: %text-dim%;
    background: transparent;
}
QLabel[class="badge-ok"] {
    background-color: %success-tint%;
    color: %success%;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QLabel[class="badge-warn"] {
    background-color: %warning-tint%;
    color: %warning%;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QLabel[class="badge-neutral-muted"] {
    background-color: %hover%;
    color: %text-muted%;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: 500;
}
QLabel[class="badge-error"] {
    background-color: %danger-tint%;
    color: %danger%;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QLabel[class="badge-neutral"] {
    background-color: %accent-tint%;
    color: %accent%;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QFrame[class="project-card"] {
    background-color: %surface%;
    border: 1px solid %hairline%;
    border-radius: 12px;
    padding: 14px 18px;
}
QFrame[class="project-card"]:hover {
    border-color: %accent%;
    background-color: %hover%;
}
QFrame[class="project-card"][active="true"] {
    border-color: %accent%;
}
QFrame[class="client-card"] {
    background-color: %surface%;
    border: 1px solid %hairline%;
    border-radius: 12px;
    padding: 0;
}
QFrame[class="client-card"]:hover {
    border-color: %accent%;
}
QFrame[class="prereq-item"] {
    background-color: %surface%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    padding: 10px 14px;
}
QToolButton[class="more-button"] {
    background: transparent;
    color: %text-dim%;
    border: 1px solid transparent;
    border-radius: 6px;
    padding: 0 6px;
    font-size: 16px;
    font-weight: bold;
}
QToolButton[class="more-button"]:hover {
    background-color: %hover%;
    color: %text%;
    border-color: %text-faint%;
}
QToolButton[class="more-button"]:focus {
    border-color: %accent-light%;
}
QMenu[class="card-menu"] {
    background-color: %surface%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    padding: 4px;
}
QMenu[class="card-menu"]::item {
    background: transparent;
    color: %text%;
    padding: 6px 20px 6px 12px;
    border-radius: 6px;
}
QMenu[class="card-menu"]::item:selected {
    background-color: %hover%;
}
QMenu[class="card-menu"]::item:disabled {
    color: %text-faint%;
}
QMenu[class="card-menu"]::separator {
    height: 1px;
    background: %hairline%;
    margin: 4px 6px;
}
QLabel[class="dialog-title"] {
    font-size: 16px;
    font-weight: bold;
    background: transparent;
}
QLabel[class="error-text"] {
    color: %danger%;
    background: transparent;
}
QLabel[class="warn-text"] {
    color: %warning%;
    background: transparent;
}
QLabel[class="success-text"] {
    color: %success%;
    background: transparent;
}
QTreeWidget[class="backup-list"] {
    outline: 0;
    background-color: %sidebar%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    selection-background-color: %selection%;
    selection-color: %text%;
}
QTreeWidget[class="backup-list"]::item {
    padding: 6px 4px;
}
QTreeWidget[class="backup-list"]::item:selected {
    background-color: %selection%;
    color: %text%;
    padding: 6px 4px;
}
QTreeWidget[class="backup-list"] QHeaderView::section {
    background-color: %surface%;
    color: %text-dim%;
    border: none;
    border-bottom: 1px solid %hairline%;
    padding: 6px 8px;
    font-size: 12px;
    font-weight: 600;
}
QPlainTextEdit[class="code"] {
    background-color: %sidebar%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    color: %text%;
    padding: 8px;
    font-family: "Cascadia Code", "JetBrains Mono", monospace;
    font-size: 12px;
    selection-background-color: %accent%;
}
QLabel[class="icon"] {
    background: transparent;
}
QLabel[class="card-title"] {
    font-weight: 600;
    font-size: 14px;
    background: transparent;
}
QLabel[class="client-name"] {
    font-weight: 600;
    font-size: 13px;
    background: transparent;
}
QLabel[class="item-name"] {
    font-weight: 600;
    background: transparent;
}
QLabel[class="welcome-title"] {
    font-size: 20px;
    font-weight: bold;
    background: transparent;
}
QLabel[class="welcome-subtitle"] {
    color: %text-dim%;
    background: transparent;
}
QLabel[class="step-number"] {
    background: %accent%;
    color: %on-accent%;
    border-radius: 14px;
    font-weight: bold;
    font-size: 13px;
}
QLabel[class="step-text"] {
    font-size: 14px;
    background: transparent;
}
QLabel[class="toast"] {
    padding: 12px 24px;
    border-radius: 8px;
    font-size: 13px;
    font-weight: 600;
    background: %toast-info%;
    color: %text%;
    border: 1px solid %toast-border%;
}
QLabel[class="toast"][kind="success"] {
    background: %toast-success%;
    color: %on-accent%;
}
QLabel[class="toast"][kind="error"] {
    background: %toast-error%;
    color: %on-accent%;
}
QPushButton:disabled {
    color: %text-faint%;
}
QToolTip {
    background-color: %surface%;
    color: %text%;
    border: 1px solid %hairline%;
    border-radius: 6px;
    padding: 4px 8px;
    font-size: 12px;
}
QDialogButtonBox QPushButton {
    background-color: %hover%;
    color: %text%;
    border: 1px solid %hairline%;
    border-radius: 8px;
    padding: 6px 16px;
    min-width: 64px;
    font-weight: 600;
}
QDialogButtonBox QPushButton:hover {
    border-color: %accent%;
}
QDialogButtonBox QPushButton:default {
    background-color: %accent%;
    color: %on-accent%;
    border-color: %accent%;
}
QDialogButtonBox QPushButton:default:hover {
    background-color: %accent-light%;
}
QDialogButtonBox QPushButton:focus {
    outline: none;
    border: 2px solid %accent-light%;
    padding: 5px 15px;
}
)CSS";

// The style sheet: the rules with the palette's colours in place. Made once.
inline const QString &styleSheet()
{
    static const QString s_sheet = [] {
        const std::pair<const char *, const char *> colours[] = {
            {"%base%", Palette::Base},
            {"%sidebar%", Palette::Sidebar},
            {"%surface%", Palette::Surface},
            {"%hover%", Palette::Hover},
            {"%hairline%", Palette::Hairline},
            {"%text%", Palette::Text},
            {"%text-dim%", Palette::TextDim},
            {"%text-faint%", Palette::TextFaint},
            {"%text-muted%", Palette::TextMuted},
            {"%outline%", Palette::Outline},
            {"%accent%", Palette::Accent},
            {"%accent-light%", Palette::AccentLight},
            {"%accent-tint%", Palette::AccentTint},
            {"%selection%", Palette::Selection},
            {"%success%", Palette::Success},
            {"%success-tint%", Palette::SuccessTint},
            {"%warning%", Palette::Warning},
            {"%warning-tint%", Palette::WarningTint},
            {"%danger%", Palette::Danger},
            {"%danger-tint%", Palette::DangerTint},
            {"%on-accent%", Palette::OnAccent},
            {"%toast-info%", Palette::ToastInfo},
            {"%toast-success%", Palette::ToastSuccess},
            {"%toast-error%", Palette::ToastError},
            {"%toast-border%", Palette::ToastBorder},
        };
        QString sheet = QString::fromLatin1(StyleTemplate);
        for (const auto &[token, colour] : colours)
            sheet.replace(QLatin1String(token), QLatin1String(colour));
        return sheet;
    }();
    return s_sheet;
}

// Sets the "class" style hook that the rules select on. A widget already styled is styled again.
inline void setClass(QWidget *widget, const char *cls)
{
    const QString value = QString::fromLatin1(cls);
    if (widget->property("class").toString() == value)
        return;
    widget->setProperty("class", value);
    if (widget->testAttribute(Qt::WA_WState_Polished)) {
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
    }
}

inline QLabel *classedLabel(const QString &text, const char *cls, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    setClass(label, cls);
    return label;
}

inline QPushButton *classedButton(const QString &text, const char *cls, QWidget *parent = nullptr)
{
    auto *button = new QPushButton(text, parent);
    setClass(button, cls);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace Theme
