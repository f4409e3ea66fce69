"""tevoli-apple-llm as the host drives it, against stand-in model servers."""
import unittest

from llm_e2e import DOWNLOADING, NOT_AVAILABLE, TURN_ON, Helper, StandIn, reply_line, require_own_netns

STATUS = {"op": "status"}
AVAILABLE = b'{"ok":true,"available":true}\n'


def setUpModule():
    require_own_netns()


def unavailable(reason):
    return reply_line({"ok": True, "available": False, "reason": reason})


class Status(unittest.TestCase):
    def test_each_state_is_read_afresh_at_every_request(self):
        with Helper() as helper:
            # Nothing listens: noticed from the refused connections, not by waiting.
            self.assertEqual(helper.ask(STATUS), unavailable(TURN_ON))
            with StandIn(8080, "--loading"):
                self.assertEqual(helper.ask(STATUS), unavailable(DOWNLOADING))
            with StandIn(8080):
                self.assertEqual(helper.ask(STATUS), AVAILABLE)
            self.assertEqual(helper.finish(), (b"", b"", 0))

    def test_discovery_goes_past_what_is_no_model_server(self):
        with StandIn(8080, "--not-found"), Helper() as helper:
            self.assertEqual(helper.ask(STATUS), unavailable(NOT_AVAILABLE))
            with StandIn(1234, "--models", "third,fourth") as third:
                self.assertEqual(helper.ask(STATUS), AVAILABLE)
                self.assertEqual(helper.ask({"op": "generate", "user": "hi"}), b'{"ok":true,"content":"echo: hi"}\n')
                self.assertEqual([body["model"] for body in third.bodies()], ["third"])


class Generate(unittest.TestCase):
    def test_each_prompt_is_a_new_conversation_with_only_its_two_messages(self):
        long_prompt = "word " * 200000  # a long transcript goes through whole
        with StandIn(8080, "--models", "first,second") as server, Helper() as helper:
            self.assertEqual(helper.ask({"op": "generate", "system": "Be brief.", "user": "a/b \u00e9\U0001f600"}),
                             '{"ok":true,"content":"echo: a\\/b \u00e9\U0001f600"}\n'.encode())
            self.assertEqual(helper.ask({"op": "generate"}), b'{"ok":true,"content":"echo: "}\n')
            self.assertEqual(helper.ask({"op": "generate", "system": None, "user": long_prompt}),
                             b'{"ok":true,"content":"echo: ' + long_prompt.encode() + b'"}\n')
            self.assertEqual(helper.finish(), (b"", b"", 0))
            bodies = server.bodies()

        def request(system, user):
            return {"model": "first", "messages": [{"role": "system", "content": system},
                                                   {"role": "user", "content": user}]}
        self.assertEqual(bodies, [request("Be brief.", "a/b \u00e9\U0001f600"), request("", ""),
                                  request("", long_prompt)])

    def test_failures_map_to_their_codes_and_the_server_goes_on(self):
        with StandIn(8080, "--chat", "context,error,close,echo"), Helper() as helper:
            self.assertEqual(helper.ask({"op": "generate", "user": "too long"}),
                             b'{"ok":false,"error":"context window exceeded","code":"context_exceeded"}\n')
            self.assertEqual(helper.ask({"op": "generate", "user": "x"}),
                             b'{"ok":false,"error":"model failed: out of memory","code":"other"}\n')
            dropped = helper.ask({"op": "generate", "user": "x"})
            self.assertRegex(dropped, rb'^\{"ok":false,"error":"[^"]+","code":"other"\}\n$')
            self.assertEqual(helper.ask({"op": "generate", "user": "again"}),
                             b'{"ok":true,"content":"echo: again"}\n')

    def test_without_a_server_the_prompt_fails_at_once(self):
        with Helper() as helper:
            reply = helper.ask({"op": "generate", "user": "hello"})
            self.assertRegex(reply, rb'^\{"ok":false,"error":"[^"]*127\.0\.0\.1[^"]*","code":"other"\}\n$')
            with StandIn(8080, "--loading"):
                self.assertEqual(helper.ask({"op": "generate", "user": "hello"}),
                                 b'{"ok":false,"error":"Loading model","code":"other"}\n')


if __name__ == "__main__":
    unittest.main()
