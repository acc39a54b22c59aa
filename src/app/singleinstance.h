#pragma once

#include <QString>

// The local-socket name that keeps one interface per user. On Unix it lives
// in the user's runtime directory when there is one, so that two users on
// one machine never meet.
QString singleInstanceName();
