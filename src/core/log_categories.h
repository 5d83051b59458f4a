#pragma once

#include <QLoggingCategory>

// One category per subsystem; the logger writes the category name into every line.
Q_DECLARE_LOGGING_CATEGORY(lcMain)
Q_DECLARE_LOGGING_CATEGORY(lcUpdater)
Q_DECLARE_LOGGING_CATEGORY(lcBroadcaster)
Q_DECLARE_LOGGING_CATEGORY(lcIcecast)
Q_DECLARE_LOGGING_CATEGORY(lcObsAudio)
// libobs's own log lines, re-logged.
Q_DECLARE_LOGGING_CATEGORY(lcObs)
Q_DECLARE_LOGGING_CATEGORY(lcMetadata)
Q_DECLARE_LOGGING_CATEGORY(lcOndaro)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcCredentials)
Q_DECLARE_LOGGING_CATEGORY(lcGStreamer)
Q_DECLARE_LOGGING_CATEGORY(lcDucking)
Q_DECLARE_LOGGING_CATEGORY(lcDuckingVu)
Q_DECLARE_LOGGING_CATEGORY(lcAppState)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
