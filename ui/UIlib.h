// The skinned window framework in one include.
#pragma once
#include "ui/uidefs.h"
#include "ui/uiparse.h"
#include "ui/uimarkup.h"
#include "ui/uiresource.h"
#include "ui/uirender.h"
#include "ui/uimanager.h"
#include "ui/uicontrol.h"
#include "ui/uicontrols.h"
#include "ui/uibuilder.h"
#include "ui/uiwindow.h"
#include "ui/uimenu.h"
#include "ui/uiaccess.h"
