// Everything of the dialog framework in one include.
#pragma once

#include "framework/button.h"
#include "framework/client_dc.h"
#include "framework/clipboard_writer.h"
#include "framework/cmd_target.h"
#include "framework/data_exchange.h"
#include "framework/dc.h"
#include "framework/dialog.h"
#include "framework/edit.h"
#include "framework/gdi_object.h"
#include "framework/menu.h"
#include "framework/message_map.h"
#include "framework/paint_dc.h"
#include "framework/select_object.h"
#include "framework/types.h"
#include "framework/win_app.h"
#include "framework/wnd.h"
