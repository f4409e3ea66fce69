"""tevoli-apple-llm as the host drives it, against stand-in model servers."""
import unittest

from llm_e2e import TURN_ON, Helper, StandIn, reply_line, require_own_netns

STATUS = {"op": "status"}


def setUpModule():
    require_own_netns()


class Discovery(unittest.TestCase):
    def test_status_and_prompts_follow_the_servers_as_they_come_and_go(self):
        with Helper() as helper:
            # Nothing listens: noticed from the refused connections, not by waiting.
            self.assertEqual(helper.ask(STATUS), reply_line({"ok": True, "available": False, "reason": TURN_ON}))
            self.assertRegex(helper.ask({"op": "generate", "user": "hello"}),
                             rb'^\{"ok":false,"error":"[^"]*127\.0\.0\.1[^"]*","code":"other"\}\n$')
            with StandIn(8080, "--loading"):
                self.assertEqual(helper.ask({"op": "generate", "user": "hello"}),
                                 b'{"ok":false,"error":"Loading model","code":"other"}\n')
            # Past something that is no model server to the last well-known address.
            with StandIn(8080, "--not-found"), StandIn(1234, "--models", "third,fourth") as third:
                self.assertEqual(helper.ask(STATUS), b'{"ok":true,"available":true}\n')
                self.assertEqual(helper.ask({"op": "generate", "user": "hi"}), b'{"ok":true,"content":"echo: hi"}\n')
                self.assertEqual([body["model"] for body in third.bodies()], ["third"])
            self.assertEqual(helper.finish(), (b"", b"", 0))


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


if __name__ == "__main__":
    unittest.main()
