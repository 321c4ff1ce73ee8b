"""Loads the qvres reader plugin into ParaView at its start:

    paraview --script=PATH/qvres_startup.py

also where ParaView cannot load Python plugins by itself: ParaView 5.11.0
under Python 3.11 (as Debian 12 ships it) imports inspect.getargspec,
which Python 3.11 removed, so Tools > Manage Plugins > Load New fails for
every Python plugin. This script puts the function back, then loads the
plugin: the one QVRES_PARAVIEW_PLUGIN names, else the one installed with
this script."""
import inspect
import os

if not hasattr(inspect, "getargspec"):
    inspect.getargspec = inspect.getfullargspec

from paraview.simple import LoadPlugin  # noqa: E402

_plugin = os.environ.get("QVRES_PARAVIEW_PLUGIN") or "@QVRES_INSTALLED_PLUGIN@"
if _plugin.startswith("@"):
    raise RuntimeError("qvres_startup.py: set QVRES_PARAVIEW_PLUGIN to the path of qvres_reader.py")
LoadPlugin(_plugin, ns=globals())
