#pragma once

#include <QWidget>

class QVBoxLayout;
class Settings;

// The Projects page: choose a Godot project folder and reopen recent ones.
class ProjectView : public QWidget
{
    Q_OBJECT
public:
    ProjectView(Settings *settings, QWidget *parent = nullptr);

    void refresh();
    void buildRecentList();
    void selectProject();

signals:
    void projectSelected(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openProject(const QString &path, const QString &name);

    Settings *m_settings;
    QVBoxLayout *m_listLayout = nullptr;
};
