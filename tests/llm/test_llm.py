"""tevoli-apple-llm as the host drives it, against a stand-in model server."""
import json
import unittest

from llm_e2e import Helper, StandIn, require_own_netns

STATUS = {"op": "status"}
TURN_ON = ("Turn on Apple Intelligence: System Settings \u2192 Apple Intelligence & Siri, then switch it on. "
           "A multi-GB on-device model downloads afterward.")


def setUpModule():
    require_own_netns()


class AsTheHostDrivesIt(unittest.TestCase):
    def test_status_and_prompts_follow_the_server_and_each_prompt_is_a_conversation_of_its_own(self):
        prompts = [("Be brief.", "a/b \u00e9\U0001f600"), (None, None), (None, "word " * 200000)]  # a long transcript
        with Helper() as helper:
            # Nothing listens: noticed from the refused connections, not by waiting.
            self.assertEqual(helper.ask(STATUS), ('{"ok":true,"available":false,"reason":"%s"}\n' % TURN_ON).encode())
            self.assertRegex(helper.ask({"op": "generate", "user": "hello"}),
                             rb'^\{"ok":false,"error":"[^"]*127\.0\.0\.1[^"]*","code":"other"\}\n$')
            # The last well-known address, past two that refuse.
            with StandIn(1234, models="third,fourth", chat="echo,echo,echo,context,error,close,echo"):
                self.assertEqual(helper.ask(STATUS), b'{"ok":true,"available":true}\n')
                for system, user in prompts:
                    line = helper.ask({"op": "generate", "system": system, "user": user})
                    body = json.loads(line)["content"]  # the stand-in answers with the request it got
                    # "/" escaped as the host's own encoder does, everything else as it came.
                    self.assertEqual(line, ('{"ok":true,"content":%s}\n' % json.dumps(body, ensure_ascii=False)
                                            .replace("/", "\\/")).encode())
                    self.assertEqual(json.loads(body), {"model": "third", "messages": [
                        {"role": "system", "content": system or ""}, {"role": "user", "content": user or ""}]})
                # Failures map to their codes, and the server goes on.
                self.assertEqual(helper.ask({"op": "generate", "user": "too long"}),
                                 b'{"ok":false,"error":"context window exceeded","code":"context_exceeded"}\n')
                self.assertEqual(helper.ask({"op": "generate", "user": "x"}),
                                 b'{"ok":false,"error":"model failed: out of memory","code":"other"}\n')
                self.assertRegex(helper.ask({"op": "generate", "user": "x"}),
                                 rb'^\{"ok":false,"error":"[^"]+","code":"other"\}\n$')
                self.assertTrue(json.loads(helper.ask({"op": "generate", "user": "again"}))["ok"])
                self.assertEqual(helper.finish(), (b"", b"", 0))


if __name__ == "__main__":
    unittest.main()
