import os
import subprocess
import unittest

import tevoli_harness


class HarnessTest(unittest.TestCase):
    def test_private_pulse_has_null_sink_and_source_as_defaults(self):
        with tevoli_harness.PrivatePulse() as pulse:
            info = pulse.pactl("info")
            self.assertIn("Default Sink: tevoli_sink", info)
            self.assertIn("Default Source: tevoli_mic", info)
            folder, proc = pulse.dir, pulse.proc
        self.assertIsNotNone(proc.poll(), "daemon still running after teardown")
        self.assertFalse(os.path.exists(folder))

    def test_private_x_display_has_composite_and_xres(self):
        with tevoli_harness.PrivateX() as x:
            out = subprocess.run(["xdpyinfo", "-queryExtensions"], env=x.env,
                                 capture_output=True, text=True, check=True).stdout
            self.assertIn("Composite", out)
            self.assertIn("X-Resource", out)
            proc = x.proc
        self.assertIsNotNone(proc.poll())

    def test_two_sessions_side_by_side(self):
        with tevoli_harness.session() as a, tevoli_harness.session() as b:
            self.assertNotEqual(a["DISPLAY"], b["DISPLAY"])
            self.assertNotEqual(a["PULSE_SERVER"], b["PULSE_SERVER"])


if __name__ == "__main__":
    unittest.main()
