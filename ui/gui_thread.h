#pragma once
// Widgets may only be touched on the thread that runs the event loop;
// handlers check it so a stray worker call fails loudly in debug builds.
//
// The engine has a thread class of its own named like Qt's, so Qt's thread
// header stays out of every file that sees the controller: the check lives
// in its own translation unit.
#include <QtGlobal>

bool OnGuiThread();

#define AssertGuiThread() Q_ASSERT_X(OnGuiThread(), Q_FUNC_INFO, "called off the GUI thread")
