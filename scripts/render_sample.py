"""Renders the pressure wave of the sample analysis through the ParaView
reader plugin, for the README:

    scripts/demo.sh                                  # writes out/sample
    xvfb-run -a pvpython scripts/render_sample.py [SAMPLE_DIR [PNG [STEP]]]

Defaults: out/sample, doc/sample-pressure.png, step 6. The plugin is the
one of this source tree; it reads through python/qvres and the library in
build/ (QVRES_LIBRARY names another)."""
import inspect
import os
import sys

if not hasattr(inspect, "getargspec"):  # ParaView 5.11.0 under Python 3.11
    inspect.getargspec = inspect.getfullargspec

from paraview import simple as pv  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
sample = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "out", "sample")
png = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "doc", "sample-pressure.png")
step = int(sys.argv[3]) if len(sys.argv) > 3 else 6
base = os.path.join(sample, "sample_run.qvres_base")
if not os.path.isfile(base):
    sys.exit(f"render_sample.py: no {base}; run scripts/demo.sh first")

pv.LoadPlugin(os.path.join(ROOT, "paraview", "qvres_reader.py"), ns=globals())
reader = pv.OpenDataFile(base)
reader.PointArrays = ["displacement"]
reader.CellArrays = ["PRESSURE", "part"]
reader.UpdatePipelineInformation()
time = reader.TimestepValues[step]

view = pv.CreateView("RenderView")
view.ViewSize = [960, 540]
view.ViewTime = time
view.OrientationAxesVisibility = 1
view.Background = [1, 1, 1]
if hasattr(view, "UseColorPaletteForBackground"):
    view.UseColorPaletteForBackground = 0

# The Euler block (a structured grid, picked by its part name) coloured by
# pressure, cut open along its middle to show the wave inside; the
# structure (the other parts) displaced, grey.
block = pv.ExtractBlock(Input=reader, Selectors=["/Root/EULER_BLOCK"])
block.UpdatePipeline(time)
bounds = block.GetDataInformation().GetBounds()
clip = pv.Clip(Input=block, ClipType="Plane", Crinkleclip=1)
clip.ClipType.Origin = [0.5 * (bounds[0] + bounds[1]), 0.5 * (bounds[2] + bounds[3]), 0.5 * (bounds[4] + bounds[5])]
clip.ClipType.Normal = [0, 1, 0]
shown = pv.Show(clip, view)
shown.SetRepresentationType("Surface With Edges")
shown.EdgeColor = [0.25, 0.25, 0.25]
pv.ColorBy(shown, ("CELLS", "PRESSURE"))
lut = pv.GetColorTransferFunction("PRESSURE")
lut.ApplyPreset("Cool to Warm", True)
shown.RescaleTransferFunctionToDataRange(False, True)
bar = pv.GetScalarBar(lut, view)
bar.Title = "pressure (Pa)"
bar.ComponentTitle = ""
bar.TitleColor = bar.LabelColor = [0.1, 0.1, 0.1]
bar.Visibility = 1

structure = pv.Threshold(Input=reader, Scalars=["CELLS", "part"], LowerThreshold=2, UpperThreshold=1000)
warped = pv.WarpByVector(Input=structure, Vectors=["POINTS", "displacement"])
steel = pv.Show(warped, view)
steel.SetRepresentationType("Surface With Edges")
steel.ColorArrayName = ["POINTS", ""]
steel.AmbientColor = steel.DiffuseColor = [0.7, 0.7, 0.72]
steel.EdgeColor = [0.3, 0.3, 0.3]

reader.UpdatePipeline(time)
cycle = int(reader.FieldData["CYCLE"].GetRange()[0])
label = pv.Text(Text=f"sample analysis: pressure at t = {time * 1e6:.1f} \u00b5s (cycle {cycle})")
caption = pv.Show(label, view)
caption.Color = [0.1, 0.1, 0.1]
caption.FontSize = 14
caption.WindowLocation = "Upper Left Corner"

view.CameraPosition = [1, -1.6, 0.9]
view.CameraFocalPoint = [0, 0, 0]
view.CameraViewUp = [0, 0, 1]
pv.Render(view)
view.ResetCamera()
view.GetActiveCamera().Dolly(1.6)
pv.Render(view)
os.makedirs(os.path.dirname(os.path.abspath(png)), exist_ok=True)
pv.SaveScreenshot(png, view, ImageResolution=[960, 540], CompressionLevel="9")
print(f"wrote {png}")
