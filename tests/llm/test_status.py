"""tevoli-apple-llm "status" and the line protocol against stand-in model servers."""
import unittest

from llm_e2e import DOWNLOADING, NOT_AVAILABLE, TURN_ON, Helper, StandIn, reply_line, require_own_netns, run


def setUpModule():
    require_own_netns()


class Status(unittest.TestCase):
    def test_each_state_is_read_afresh_at_every_request(self):
        with Helper() as helper:
            # Nothing listens: noticed from the refused connections, not by waiting.
            self.assertEqual(helper.ask({"op": "status"}),
                             reply_line({"ok": True, "available": False, "reason": TURN_ON}))
            with StandIn(8080, "--loading"):
                self.assertEqual(helper.ask({"op": "status"}),
                                 reply_line({"ok": True, "available": False, "reason": DOWNLOADING}))
            with StandIn(8080, "--no-models"):
                self.assertEqual(helper.ask({"op": "status"}),
                                 reply_line({"ok": True, "available": False, "reason": DOWNLOADING}))
            with StandIn(8080):
                self.assertEqual(helper.ask({"op": "status"}), b'{"ok":true,"available":true}\n')
            out, err, status = helper.finish()
        self.assertEqual((out, err, status), (b"", b"", 0))

    def test_discovery_goes_through_the_well_known_addresses_in_order(self):
        # Something else on 8080 is no model server; a loading runtime on 11434 says more.
        with StandIn(8080, "--not-found"), Helper() as helper:
            self.assertEqual(helper.ask({"op": "status"}),
                             reply_line({"ok": True, "available": False, "reason": NOT_AVAILABLE}))
            with StandIn(11434, "--loading"):
                self.assertEqual(helper.ask({"op": "status"}),
                                 reply_line({"ok": True, "available": False, "reason": DOWNLOADING}))
                with StandIn(1234, "--models", "third,fourth") as third:
                    self.assertEqual(helper.ask({"op": "status"}), b'{"ok":true,"available":true}\n')
                    reply = helper.ask({"op": "generate", "user": "hi"})
                    self.assertEqual(reply, b'{"ok":true,"content":"echo: hi"}\n')
                    self.assertEqual([body["model"] for body in third.bodies()], ["third"])


class LineProtocol(unittest.TestCase):
    def test_empty_input_ends_at_once_without_output(self):
        self.assertEqual(run(b""), (b"", b"", 0))

    def test_one_reply_per_non_blank_line_in_order(self):
        lines = [
            b'{"op":"status"}\r\n',
            b"   \t\r\n",
            b"\n",
            b"\xc2\xa0{\"op\":\"Generate\"}\xe2\x80\x83\n",  # Unicode spaces around the object
            b"not json\n",
            b'{"op":"status"} {"op":"status"}\n',
            b'{"op":"generate","user":5}\n',
            b'{"op":"\xff"}\n',  # ill-formed UTF-8 reads as U+FFFD
            b'{"op":"status","extra":{"a":[1]}}',  # the last line may lack its line feed
        ]
        out, err, status = run(b"".join(lines))
        turn_on = reply_line({"ok": True, "available": False, "reason": TURN_ON})
        bad = b'{"ok":false,"error":"bad request","code":"other"}\n'
        self.assertEqual(out.splitlines(keepends=True), [
            turn_on,
            b'{"ok":false,"error":"unknown op: Generate","code":"other"}\n',
            bad, bad, bad,
            '{"ok":false,"error":"unknown op: \ufffd","code":"other"}\n'.encode(),
            turn_on,
        ])
        self.assertEqual((err, status), (b"", 0))


if __name__ == "__main__":
    unittest.main()
