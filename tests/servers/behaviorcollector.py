"""Behaviour collector: POST "/pm_simulator" with one JSON record per body.

The record keeps the parsed body ("json") and what is wrong with its form ("problems").
"""
import json

from .collector import CollectorHandler, CollectorServer, ordered_pairs

ENDPOINT = "/pm_simulator"
ROOT_KEYS = ["action", "ip", "list", "mac"]
RECORD_KEYS = ["businessId", "dataType", "deviceid", "devicemodel", "errormessage", "fromtype", "memo", "model",
               "modelIndex", "operateTime", "osversion", "phonenumber", "searchKey", "serialnumber",
               "serialnumberex", "sourceModel", "succeed", "userId", "version"]
FIXED = {"fromtype": "0", "deviceid": "0", "sourceModel": "0", "modelIndex": "0", "dataType": "",
         "phonenumber": "", "serialnumber": "", "userId": "", "searchKey": "", "serialnumberex": "",
         "devicemodel": "", "osversion": "", "memo": ""}


def check_root(pairs, want_ip=True):
    """What is wrong with one root object given as ordered pairs (empty when it is as expected)."""
    if not isinstance(pairs, list):
        return ["root is not an object"]
    problems = []
    keys = [k for k, _ in pairs]
    if keys != ROOT_KEYS:
        problems.append("root members %s" % keys)
    root = dict(pairs)
    if root.get("action") != "PostPCOperateData":
        problems.append("action %r" % (root.get("action"),))
    for k in ("ip", "mac"):
        if not isinstance(root.get(k), str):
            problems.append(k + " is not text")
    if want_ip is False and root.get("ip") != "":
        problems.append("ip is not empty")
    lst = root.get("list")
    if not isinstance(lst, list) or len(lst) != 1:
        return problems + ["list does not hold exactly one record"]
    rec = lst[0]
    if not isinstance(rec, list):
        return problems + ["record is not an object"]
    rkeys = [k for k, _ in rec]
    if rkeys != RECORD_KEYS:
        problems.append("record members %s" % rkeys)
    for k, v in rec:
        if not isinstance(v, str):
            problems.append(k + " is not text")
        if k in FIXED and v != FIXED[k]:
            problems.append("%s is %r" % (k, v))
    return problems


class BehaviorHandler(CollectorHandler):
    path_prefix = ENDPOINT


class BehaviorCollector(CollectorServer):
    def __init__(self, port=0, max_requests=None):
        super().__init__(BehaviorHandler, "behavior", port, max_requests)

    def inspect(self, rec, body):
        text = body.decode("utf-8")
        try:
            pairs = ordered_pairs(text)
            rec["json"] = json.loads(text)
        except ValueError as exc:
            rec["json"] = None
            rec["problems"] = ["not JSON: %s" % exc]
            return
        rec["problems"] = check_root(pairs) + ([] if text.endswith("\n") else ["no final line feed"])
